#pragma once

#include "tests/support/TemporaryFolder.h"
#include <memory>
#include <optional>
#include <vector>

namespace kelto::test {

class LocalSshd;

// Mounts a test makes, undone (last first) when the value goes; each call is false when it cannot be made.
class TestMounts {
public:
    TestMounts() = default;
    ~TestMounts();
    TestMounts(const TestMounts&) = delete;
    TestMounts& operator=(const TestMounts&) = delete;

    bool bind(const std::filesystem::path& folder, const std::filesystem::path& at);
    bool tmpfs(const std::filesystem::path& at);
    // A FUSE pass-through of the folder (bindfs).
    bool passThrough(const std::filesystem::path& folder, const std::filesystem::path& at);
    // A FUSE pass-through of the folder listed in the mount table as gvfs lists its mounts.
    bool desktop(const std::filesystem::path& folder, const std::filesystem::path& at);
    bool overlay(const std::filesystem::path& lower, const std::filesystem::path& upper,
                 const std::filesystem::path& work, const std::filesystem::path& at);
    // A fresh 64 MiB exFAT image through a loop device and the FUSE driver, which folds case.
    bool exfat(const std::filesystem::path& image, const std::filesystem::path& at);
    // A fresh 16 MiB ext4 image through a loop device; read-only leaves the image's bytes alone.
    bool ext4Image(const std::filesystem::path& image, const std::filesystem::path& at, bool readOnly = false);
    // Any command that mounts something at `at`, undone with the rest.
    bool mount(const std::vector<std::string>& command, const std::filesystem::path& at);
    // A loop device over the image, its partitions found where asked; empty when none could be set up.
    std::string loopDevice(const std::filesystem::path& image, bool scanPartitions = true);

private:
    std::vector<std::filesystem::path> mounted_;
    std::vector<std::string> loopDevices_;
};

// A folder on tmpfs, which keeps any 64-bit time (/dev/shm, else a tmpfs of its own, root only).
class TmpfsFolder {
public:
    // nullptr, with the reason in `whyNot`, when no tmpfs can be had.
    static std::unique_ptr<TmpfsFolder> make(std::string& whyNot);

    const std::filesystem::path& path() const { return folder_->path(); }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return path() / relative; }

private:
    TmpfsFolder() = default;
    std::optional<TemporaryFolder> mountPoint_;  // when mounted here
    TestMounts mounts_;
    std::optional<TemporaryFolder> folder_;  // goes first
};

// A small ext4 image mounted through a loop device while it lives; ext4 clamps times to 1901..2446.
class Ext4Volume {
public:
    // nullptr with the reason in `whyNot` when it cannot be made; label and UUID given when not empty.
    static std::unique_ptr<Ext4Volume> make(std::string& whyNot, const std::string& label = {},
                                            const std::string& uuid = {});
    ~Ext4Volume();
    Ext4Volume(const Ext4Volume&) = delete;
    Ext4Volume& operator=(const Ext4Volume&) = delete;

    const std::filesystem::path& path() const { return mountPoint_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const { return mountPoint_ / relative; }

    // Unmounts the file system and mounts it again at a new folder.
    bool remountElsewhere();

private:
    Ext4Volume() = default;
    int mounts_ = 0;
    TemporaryFolder holder_;
    std::filesystem::path mountPoint_;
    bool mounted_ = false;
};

// The kinds of mount people sync to. rclone: a remote of a local folder; rcloneMemory: one in rclone's memory,
// answering no extended attributes; desktop: a pass-through listed as gvfs lists its mounts.
enum class MountKind { sshfs, desktop, exfat, passThrough, ext4, btrfs, rclone, rcloneMemory, tmpfs };

std::string nameOf(MountKind kind);

// A folder on one kind of mount, unmounted when the value goes.
class MountedFolder {
public:
    MountedFolder();
    ~MountedFolder();
    // The mount's folder below `under`, or empty with the reason in `whyNot`.
    std::filesystem::path make(MountKind kind, const std::filesystem::path& under, std::string& whyNot);

private:
    std::unique_ptr<LocalSshd> sshd_;
    TestMounts mounts_;  // undone before the server goes
};

// Runs a program from PATH, output thrown away: its exit status, or -1 when it could not start.
int runQuietly(const std::vector<std::string>& arguments);

}  // namespace kelto::test
