#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

// File operations inside a synchronised folder that never follow a symbolic
// link below the root: every folder on the way is opened with O_NOFOLLOW and
// every action is taken relative to the descriptor of its parent folder.
// Functions return 0 or an errno value; callers decide what a failure means.
namespace kelto::SafeFileSystem {

// An open file descriptor, closed on destruction.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor();
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// The pieces of a relative path between its slashes, empty pieces kept.
std::vector<std::string> split(std::string_view relativePath);

// Opens the root folder itself. A link there is followed: the user chose it.
int openRoot(const std::filesystem::path& root, Descriptor& out);

// Opens the folder `name` inside `directory`. A symbolic link, or anything
// else that is not a folder, gives ENOTDIR; "", "." and ".." give EINVAL.
int openChild(int directory, const std::string& name, Descriptor& out);

// Opens the folder reached from `directory` through `components`, one at a
// time. With createMissing, a missing folder is made (default permissions).
int openPath(int directory, const std::vector<std::string>& components, Descriptor& out, bool createMissing);

// lstat of `name` inside `directory`.
int statChild(int directory, const std::string& name, struct stat& out);

// Creates `name` inside `directory` and opens it; an existing folder is
// opened as it is, anything else there gives ENOTDIR.
int ensureFolder(int directory, const std::string& name, Descriptor& out);

// The names inside an open folder, "." and ".." left out.
int listNames(int directory, std::vector<std::string>& out);

// Removes `name` inside `directory`: a link as a link, a folder with all it
// holds. Goes on past a failure and returns the first one; ENOENT anywhere
// counts as done.
int removeTree(int directory, const std::string& name);

// Moves an item without ever replacing what is at the destination (EEXIST).
int moveWithoutReplacing(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName);

// The way moveWithoutReplacing takes where the file system refuses
// RENAME_NOREPLACE; exposed so that it can be tested on any file system.
int moveByClaimingDestination(int fromDirectory, const std::string& fromName, int toDirectory,
                              const std::string& toName);

}  // namespace kelto::SafeFileSystem
