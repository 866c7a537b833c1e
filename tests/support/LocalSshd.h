#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace kelto::test {

// An sshd of the test's own on 127.0.0.1 with keys in `folder`, for sshfs mounts of local folders (root only).
class LocalSshd {
public:
    // nullptr with the reason in `whyNot` when it cannot start; `chroot` shuts sftp sessions in a folder.
    static std::unique_ptr<LocalSshd> start(const std::filesystem::path& folder, std::string& whyNot,
                                            const std::filesystem::path& chroot = {});
    ~LocalSshd();
    LocalSshd(const LocalSshd&) = delete;
    LocalSshd& operator=(const LocalSshd&) = delete;

    // The command that mounts `folder` through this sshd at `at`.
    std::vector<std::string> sshfs(const std::filesystem::path& folder, const std::filesystem::path& at) const;

private:
    LocalSshd() = default;
    std::filesystem::path folder_;
    int port_ = 0;
    pid_t pid_ = -1;
    int output_ = -1;  // sshd's log, read up to its first "listening" line
};

}  // namespace kelto::test
