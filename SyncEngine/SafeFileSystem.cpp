#include "SyncEngine/SafeFileSystem.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace kelto::SafeFileSystem {

Descriptor::~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

std::vector<std::string> split(std::string_view relativePath) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = relativePath.find('/', start);
        if (end == std::string_view::npos) {
            pieces.emplace_back(relativePath.substr(start));
            return pieces;
        }
        pieces.emplace_back(relativePath.substr(start, end - start));
        start = end + 1;
    }
}

namespace {

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// O_PATH: walking needs search permission on a folder, not read permission.
constexpr int walkFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

int openRoot(const std::filesystem::path& root, Descriptor& out) {
    const int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    out = Descriptor(fd);
    return 0;
}

int openChild(int directory, const std::string& name, Descriptor& out) {
    if (!isPlainName(name)) return EINVAL;
    const int fd = ::openat(directory, name.c_str(), walkFlags);
    if (fd < 0) return errno == ELOOP ? ENOTDIR : errno;
    out = Descriptor(fd);
    return 0;
}

int openPath(int directory, const std::vector<std::string>& components, Descriptor& out, bool createMissing) {
    Descriptor current;
    int at = directory;
    for (const std::string& name : components) {
        Descriptor next;
        int error = createMissing ? ensureFolder(at, name, next) : openChild(at, name, next);
        if (error != 0) return error;
        current = std::move(next);
        at = current.get();
    }
    if (!current.valid()) {  // no components: the folder itself
        const int fd = ::openat(directory, ".", walkFlags);
        if (fd < 0) return errno;
        current = Descriptor(fd);
    }
    out = std::move(current);
    return 0;
}

int statChild(int directory, const std::string& name, struct stat& out) {
    if (!isPlainName(name)) return EINVAL;
    return ::fstatat(directory, name.c_str(), &out, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

int ensureFolder(int directory, const std::string& name, Descriptor& out) {
    int error = openChild(directory, name, out);
    if (error != ENOENT) return error;
    // Another process may make it meanwhile; opening it then is still right.
    if (::mkdirat(directory, name.c_str(), 0777) != 0 && errno != EEXIST) return errno;
    return openChild(directory, name, out);
}

int listNames(int directory, std::vector<std::string>& out) {
    const int fd = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    DIR* stream = ::fdopendir(fd);
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..") out.push_back(name);
    }
    ::closedir(stream);
    return error;
}

int removeTree(int directory, const std::string& name) {
    if (!isPlainName(name)) return EINVAL;
    if (::unlinkat(directory, name.c_str(), 0) == 0 || errno == ENOENT) return 0;
    // Linux answers EISDIR for a folder; anything else is a real failure.
    if (errno != EISDIR) return errno;

    Descriptor folder;
    int error = openChild(directory, name, folder);
    if (error == ENOENT) return 0;
    if (error != 0) return error;
    std::vector<std::string> names;
    error = listNames(folder.get(), names);
    for (const std::string& child : names) {
        const int childError = removeTree(folder.get(), child);
        if (error == 0) error = childError;
    }
    if (error != 0) return error;
    if (::unlinkat(directory, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) return errno;
    return 0;
}

int moveWithoutReplacing(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName) {
    if (!isPlainName(fromName) || !isPlainName(toName)) return EINVAL;
    if (::renameat2(fromDirectory, fromName.c_str(), toDirectory, toName.c_str(), RENAME_NOREPLACE) == 0) return 0;
    // EINVAL: the file system does not support the flag (NFS, many FUSE file
    // systems). A plain rename would silently replace; claim the name first.
    if (errno != EINVAL) return errno;
    return moveByClaimingDestination(fromDirectory, fromName, toDirectory, toName);
}

int moveByClaimingDestination(int fromDirectory, const std::string& fromName, int toDirectory,
                              const std::string& toName) {
    if (!isPlainName(fromName) || !isPlainName(toName)) return EINVAL;
    struct stat source {};
    if (::fstatat(fromDirectory, fromName.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) return errno;

    if (S_ISDIR(source.st_mode)) {
        // mkdir fails with EEXIST when the name is taken, so the empty folder
        // made here is ours; rename may replace only an empty folder, so if
        // anything was put into it meanwhile the rename fails (ENOTEMPTY)
        // instead of replacing it.
        if (::mkdirat(toDirectory, toName.c_str(), 0700) != 0) return errno;
        if (::renameat(fromDirectory, fromName.c_str(), toDirectory, toName.c_str()) != 0) {
            const int error = errno;
            ::unlinkat(toDirectory, toName.c_str(), AT_REMOVEDIR);
            return error;
        }
        return 0;
    }

    // link(2) fails with EEXIST when the name is taken and links a symbolic
    // link as itself. Without hard links (EPERM, ENOTSUP) the move fails:
    // no remaining way is free of a window in which it could replace.
    if (::linkat(fromDirectory, fromName.c_str(), toDirectory, toName.c_str(), 0) != 0) return errno;
    struct stat now {};
    struct stat linked {};
    const bool same = ::fstatat(fromDirectory, fromName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                      ::fstatat(toDirectory, toName.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0 &&
                      now.st_dev == linked.st_dev && now.st_ino == linked.st_ino;
    if (!same) {
        // The source name was replaced after the link: do not unlink someone else's file.
        ::unlinkat(toDirectory, toName.c_str(), 0);
        return EBUSY;
    }
    if (::unlinkat(fromDirectory, fromName.c_str(), 0) != 0) {
        const int error = errno;
        ::unlinkat(toDirectory, toName.c_str(), 0);
        return error;
    }
    return 0;
}

}  // namespace kelto::SafeFileSystem
