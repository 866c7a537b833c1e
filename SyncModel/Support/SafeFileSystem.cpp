#include "SyncModel/Support/SafeFileSystem.h"

#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/ItemVersion.h"

#include "SyncModel/Support/Unicode.h"
#include "SyncModel/Support/Uuid.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <set>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace kelto::SafeFileSystem {

namespace fs = std::filesystem;

fs::path Folder::operator/(std::string_view name) const {
    // Joined as text: a name that is not a plain name must not replace the path.
    std::string whole = path.native();
    if (!whole.empty() && whole.back() != '/') whole += '/';
    whole += name;
    return whole;
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

bool isAbsence(int error) { return error == ENOENT || error == ENOTDIR; }

void requirePlainName(const Folder& parent, const std::string& name, const char* operation) {
    if (!isPlainName(name)) throw FileError(EINVAL, operation, parent / name);
}

// O_PATH: walking needs search permission on a folder, not read permission.
constexpr int walkFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// The calls below answer 0 or an errno value, so that the recursive removal
// and the fallback move can decide on the number before anything is thrown.

int openChildAt(int directory, const std::string& name, FileDescriptor& out) {
    const int fd = ::openat(directory, name.c_str(), walkFlags);
    if (fd < 0) return errno == ELOOP ? ENOTDIR : errno;  // a link where a folder should be
    out = FileDescriptor(fd);
    return 0;
}

// Set once openat2 is refused for good: every path is walked then.
std::atomic<bool> openat2Refused{false};

// Opens the folder at `relative` (plain names joined by slashes) below
// `directory` in one call, following no link on the way (RESOLVE_NO_SYMLINKS)
// and never leaving it (RESOLVE_BENEATH); a mount on the way is entered, as
// the walk enters it. 0, or ENOENT/ENOTDIR for absence as the walk tells it,
// or -1 where only the walk can answer: a kernel or sandbox without openat2,
// a refusal openat2 documents as worth another way (EAGAIN, EXDEV), or a
// failure whose folder the walk names exactly.
int openBeneath(int directory, const std::string& relative, FileDescriptor& out) {
    if (openat2Refused.load(std::memory_order_relaxed)) return -1;
    open_how how{};
    how.flags = walkFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, directory, relative.c_str(), &how, sizeof how);
    if (fd >= 0) {
        out = FileDescriptor(static_cast<int>(fd));
        return 0;
    }
    switch (errno) {
    case ENOENT:
    case ENOTDIR: return errno;
    case ELOOP: return ENOTDIR;  // a link on the way, as the walk finds it
    case ENOSYS:
    case EPERM:  // a sandbox's filter refusing calls it does not know
        openat2Refused.store(true, std::memory_order_relaxed);
        return -1;
    default: return -1;
    }
}

int listNamesAt(int directory, std::vector<std::string>& out) {
    const FileDescriptor fd(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return errno;
    // Read directly: a directory stream asks the descriptor's status and flags first.
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t length = ::getdents64(fd.get(), buffer, sizeof buffer);
        if (length < 0) return errno;
        if (length == 0) return 0;
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            const std::string_view name = entry->d_name;
            // No file number: a deleted entry, which readdir passes over too.
            if (entry->d_ino != 0 && name != "." && name != "..") out.emplace_back(name);
            at += entry->d_reclen;
        }
    }
}

// The first failure of a removal that goes on past failures.
struct FirstFailure {
    std::optional<FileError> error;
    bool note(int number, const char* operation, const fs::path& path) {
        if (!error) error.emplace(number, operation, path);
        return false;
    }
};

// Whether an item may go, by its path below the tree's top ("" for the top)
// and its lstat.
using MayGo = std::function<bool(const std::string& relative, const struct stat& item)>;

// The one tree remover: whether `name` is gone from `directory`, removed
// with all it holds, but for what `mayGo` (where given) keeps, which stays
// with the folders on its way (EBUSY).
bool removeTreeAt(int directory, const std::string& name, const std::string& relative, const fs::path& path,
                  const MayGo* mayGo, FirstFailure& failure) {
    if (mayGo) {
        struct stat now {};
        if (::fstatat(directory, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? true : failure.note(errno, "Could not remove", path);
        if (!(*mayGo)(relative, now)) return failure.note(EBUSY, "Could not remove", path);
        if (!S_ISDIR(now.st_mode)) {
            if (::unlinkat(directory, name.c_str(), 0) == 0 || errno == ENOENT) return true;
            return failure.note(errno, "Could not remove", path);
        }
    } else {
        if (::unlinkat(directory, name.c_str(), 0) == 0 || errno == ENOENT) return true;
        // Linux answers EISDIR for a folder; anything else is a real failure.
        if (errno != EISDIR) return failure.note(errno, "Could not remove", path);
    }

    FileDescriptor folder;
    const int openError = openChildAt(directory, name, folder);
    if (openError == ENOENT) return true;
    if (openError != 0) return failure.note(openError, "Could not open folder", path);
    std::vector<std::string> names;
    bool removed = true;
    if (const int error = listNamesAt(folder.get(), names); error != 0)
        removed = failure.note(error, "Could not read folder", path);
    for (const std::string& child : names)
        removed = removeTreeAt(folder.get(), child, relative.empty() ? child : relative + "/" + child, path / child,
                               mayGo, failure) &&
                  removed;
    if (!removed) return false;
    if (::unlinkat(directory, name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
        return failure.note(errno, "Could not remove", path);
    return true;
}

// Claims `toName` before the move, for a disk that cannot refuse an existing
// name itself: 0 or an errno value (EEXIST where the name is taken).
// `numbersLast`: whether every name of one file shows one number there.
int moveByClaiming(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName,
                   bool numbersLast) {
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
    const bool both = ::fstatat(fromDirectory, fromName.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                      ::fstatat(toDirectory, toName.c_str(), &linked, AT_SYMLINK_NOFOLLOW) == 0;
    // Where names are numbered afresh, link counts and status times may be
    // cached stale under the old name (FUSE) or not kept at all (sshfs):
    // kind, size and time are what both names surely show.
    const bool same = both && (numbersLast ? now.st_dev == linked.st_dev && now.st_ino == linked.st_ino
                                           : ItemVersion::of(now, false).same(ItemVersion::of(linked, false),
                                                                              ItemVersion::Strictness::seen));
    // Where the two names no longer show one item, or the old one cannot
    // go, either may be someone else's by now (an editor saving over the
    // new name): neither is removed, and the item stays where it was as
    // well, named, as one whose place is taken.
    if (!same) return EEXIST;
    if (::unlinkat(fromDirectory, fromName.c_str(), 0) != 0) return errno;
    return 0;
}

// The file system offers no hard links, or none here.
bool noLinks(int error) { return error == EPERM || error == EOPNOTSUPP || error == ENOSYS; }

// The first way of every rename that must not replace, on every disk: the
// kernel's rename that refuses to replace. Which disks have it is the
// kernel's to tell, not a table's (the SMB client and hfsplus have it, NFS
// and most FUSE programs not). 0 or an errno value; -1 where the disk has
// no such rename (EINVAL, EOPNOTSUPP; ENOSYS from a kernel without the
// call) and the next way is to be taken. A rename the next way cannot do
// either (a folder into itself, also EINVAL) fails there with its cause.
int renameRefusingToReplace(int from, const std::string& fromName, int to, const std::string& toName) {
    if (::renameat2(from, fromName.c_str(), to, toName.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int error = errno;
    return error == EINVAL || error == EOPNOTSUPP || error == ENOSYS ? -1 : error;
}

// An item's extended attributes are read and written through its open
// descriptor, or else by its path through its folder's descriptor, a link
// as itself. Calls answer 0 or an errno value.
struct AttributeTarget {
    int fd = -1;
    std::string path;
    FileDescriptor owned;

    static AttributeTarget at(int directory, const std::string& name) {
        // Without a /proc of its own (a PID namespace whose /proc is
        // another's) a file or a folder is opened instead; a link or a
        // device, which opening could act on, cannot be reached then.
        static const bool throughProc = ::access("/proc/self/fd", X_OK) == 0;
        AttributeTarget target;
        target.path = (throughDescriptor(directory) / name).native();
        struct stat item {};
        if (throughProc || ::fstatat(directory, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0 ||
            !(S_ISREG(item.st_mode) || S_ISDIR(item.st_mode)))
            return target;
        target.owned =
            FileDescriptor(::openat(directory, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        target.fd = target.owned.get();
        return target;
    }
    ssize_t list(char* names, std::size_t size) const {
        return fd >= 0 ? ::flistxattr(fd, names, size) : ::llistxattr(path.c_str(), names, size);
    }
    ssize_t get(const char* name, void* value, std::size_t size) const {
        return fd >= 0 ? ::fgetxattr(fd, name, value, size) : ::lgetxattr(path.c_str(), name, value, size);
    }
    int set(const char* name, const void* value, std::size_t size) const {
        return (fd >= 0 ? ::fsetxattr(fd, name, value, size, 0) : ::lsetxattr(path.c_str(), name, value, size, 0)) == 0
                   ? 0
                   : errno;
    }
};

bool keepsNoAttributes(int error) { return error == ENOTSUP || error == ENOSYS; }

int readAttributes(const AttributeTarget& item, Attributes& out) {
    std::vector<char> names;
    ssize_t length = -1;
    // A list or a value that grows between asking its size and reading it is asked again.
    for (int tries = 0; tries < 8; ++tries) {
        length = item.list(nullptr, 0);
        if (length <= 0) break;
        names.resize(static_cast<std::size_t>(length));
        length = item.list(names.data(), names.size());
        if (length >= 0 || errno != ERANGE) break;
    }
    if (length < 0) return keepsNoAttributes(errno) ? 0 : errno;
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names.data() + at)) + 1) {
        const char* name = names.data() + at;
        std::string value;
        ssize_t got = -1;
        for (int tries = 0; tries < 8; ++tries) {
            got = item.get(name, nullptr, 0);
            if (got < 0) break;
            value.resize(static_cast<std::size_t>(got));
            got = item.get(name, value.data(), value.size());
            if (got >= 0 || errno != ERANGE) break;
        }
        if (got < 0 && errno == ENODATA) continue;  // gone meanwhile
        if (got < 0) return errno;
        value.resize(static_cast<std::size_t>(got));
        out.emplace_back(name, std::move(value));
    }
    return 0;
}

int writeAttributes(const AttributeTarget& item, const Attributes& attributes, std::string& failed) {
    for (const auto& [name, value] : attributes) {
        const int error = item.set(name.c_str(), value.data(), value.size());
        // The security label is the machine's, given by its policy where a
        // file system keeps one at all; it is no part of the item to lose.
        if (error == 0 || (keepsNoAttributes(error) && name == "security.selinux")) continue;
        failed = name;
        return error;
    }
    return 0;
}

// What one copy across file systems carries besides data: the extended
// attribute that could not be kept, if any, and the copies of files met
// under more than one name, by what they were, so that another name of
// one is linked to its copy, as it was to the item.
struct Crossing {
    std::string failedAttribute;
    std::map<std::pair<dev_t, ino_t>, std::pair<FileDescriptor, std::string>> copies;

    // Links `toName` to the copy of the item `item` was a name of; 0, or
    // ENOENT where none was made yet.
    int linkToCopy(const struct stat& item, int toDirectory, const std::string& toName) const {
        const auto copy = copies.find({item.st_dev, item.st_ino});
        if (item.st_nlink < 2 || S_ISDIR(item.st_mode) || copy == copies.end()) return ENOENT;
        return ::linkat(copy->second.first.get(), copy->second.second.c_str(), toDirectory, toName.c_str(), 0) == 0
                   ? 0
                   : errno;
    }
    void noteCopy(const struct stat& item, int toDirectory, const std::string& toName) {
        if (item.st_nlink < 2 || S_ISDIR(item.st_mode)) return;
        copies.try_emplace({item.st_dev, item.st_ino}, FileDescriptor(::fcntl(toDirectory, F_DUPFD_CLOEXEC, 0)),
                           toName);
    }
};

// Copies an item to a name in another folder (of another file system),
// never replacing what stands there: every file, folder, link and special
// file is made exclusively. Keeps the mode and times where the file system
// takes them; a file's data reaches the disk before this returns. What it
// made is removed again on failure.
// A copy is its item's as far as the file system keeps it: owner and group,
// then every extended attribute, then the mode, which a change of owner
// would clear set-user-ID from. Where the owner cannot be kept, neither are
// the set-user-ID and set-group-ID bits, so no copy runs as someone it is
// not. An attribute the copy cannot take fails it (noted in `crossing`):
// none is dropped silently. `out` is an open descriptor, or -1 for the item
// at `name` in `directory` (a link, a device).
int keepOwnership(int out, int directory, const std::string& name, const struct stat& item,
                  const Attributes& attributes, Crossing& crossing) {
    mode_t mode = item.st_mode & 07777;
    const int owned = out >= 0 ? ::fchown(out, item.st_uid, item.st_gid)
                               : ::fchownat(directory, name.c_str(), item.st_uid, item.st_gid, AT_SYMLINK_NOFOLLOW);
    if (owned != 0) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    const AttributeTarget target = out >= 0 ? AttributeTarget{out, {}, {}} : AttributeTarget::at(directory, name);
    if (const int error = writeAttributes(target, attributes, crossing.failedAttribute); error != 0) return error;
    if (S_ISLNK(item.st_mode)) return 0;  // a link's mode is fixed
    if (out >= 0) (void)::fchmod(out, mode);
    else (void)::fchmodat(directory, name.c_str(), mode, 0);
    return 0;
}

// Copies an open file's data, holes kept, then its owner, mode and times as
// far as the file system keeps them; the data reaches the disk. 0 or errno.
int copyFile(int in, int out, const struct stat& item, Crossing& crossing) {
    const timespec times[2] = {item.st_atim, item.st_mtim};
    Attributes attributes;
    int error = readAttributes({in, {}, {}}, attributes);
    char buffer[1 << 16];
    // Holes stay holes: a sparse file copied whole could need more room
    // than the file system has. Where holes cannot be found, all is data.
    bool sparse = true;
    off_t end = -1;  // where the copy ends, when past what was written
    while (error == 0) {
        if (sparse) {
            const off_t at = ::lseek(in, 0, SEEK_CUR);
            const off_t data = ::lseek(in, at, SEEK_DATA);
            if (data < 0 && errno == ENXIO) {  // only a hole to the end
                end = ::lseek(in, 0, SEEK_END);
                break;
            }
            if (data < 0 || ::lseek(out, data, SEEK_SET) < 0) {
                sparse = false;
                if (::lseek(in, at, SEEK_SET) < 0 || ::lseek(out, at, SEEK_SET) < 0) {
                    error = errno;
                    break;
                }
            }
        }
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) error = errno;
            break;
        }
        for (ssize_t written = 0; written < n && error == 0;) {
            const ssize_t w = ::write(out, buffer + written, static_cast<std::size_t>(n - written));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) error = w < 0 ? errno : EIO;
            else written += w;
        }
        if (error != 0) break;
    }
    if (error == 0 && end > 0 && ::ftruncate(out, end) != 0) error = errno;
    // Owner, mode and times as far as the file system keeps them; the data must be there.
    if (error == 0) error = keepOwnership(out, -1, {}, item, attributes, crossing);
    if (error == 0) {
        (void)::futimens(out, times);
        if (::fsync(out) != 0) error = errno;
    }
    return error;
}

int copyExclusively(int fromDirectory, const std::string& fromName, int toDirectory, const std::string& toName,
                    Crossing& crossing) {
    struct stat item {};
    if (::fstatat(fromDirectory, fromName.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    const timespec times[2] = {item.st_atim, item.st_mtim};
    // Another name of a file copied already: linked to that copy, where the
    // file system takes links (exFAT through FUSE does not: copied again).
    if (const int linked = crossing.linkToCopy(item, toDirectory, toName); linked == 0 || linked == EEXIST)
        return linked;
    int error = 0;
    if (S_ISREG(item.st_mode)) {
        const FileDescriptor in(::openat(fromDirectory, fromName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!in.valid()) return errno;
        const FileDescriptor out(
            ::openat(toDirectory, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out.valid()) return errno;
        error = copyFile(in.get(), out.get(), item, crossing);
        if (error != 0) ::unlinkat(toDirectory, toName.c_str(), 0);
        else crossing.noteCopy(item, toDirectory, toName);
        return error;
    }
    Attributes attributes;
    if (const int read = readAttributes(AttributeTarget::at(fromDirectory, fromName), attributes); read != 0)
        return read;
    if (S_ISLNK(item.st_mode)) {
        std::string target(static_cast<std::size_t>(item.st_size) + 1, '\0');
        const ssize_t n = ::readlinkat(fromDirectory, fromName.c_str(), target.data(), target.size());
        if (n < 0) return errno;
        target.resize(static_cast<std::size_t>(n));
        if (::symlinkat(target.c_str(), toDirectory, toName.c_str()) != 0) return errno;
        error = keepOwnership(-1, toDirectory, toName, item, attributes, crossing);
        if (error != 0) {
            ::unlinkat(toDirectory, toName.c_str(), 0);
            return error;
        }
        (void)::utimensat(toDirectory, toName.c_str(), times, AT_SYMLINK_NOFOLLOW);
        crossing.noteCopy(item, toDirectory, toName);
        return 0;
    }
    if (S_ISDIR(item.st_mode)) {
        if (::mkdirat(toDirectory, toName.c_str(), 0700) != 0) return errno;
        FileDescriptor from, to;
        std::vector<std::string> names;
        error = openChildAt(fromDirectory, fromName, from);
        if (error == 0) error = listNamesAt(from.get(), names);
        if (error == 0) {
            const int fd = ::openat(toDirectory, toName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) error = errno;
            to = FileDescriptor(fd);
        }
        for (const std::string& name : names) {
            if (error != 0) break;
            error = copyExclusively(from.get(), name, to.get(), name, crossing);
        }
        if (error == 0) error = keepOwnership(to.get(), toDirectory, toName, item, attributes, crossing);
        if (error == 0) {
            (void)::futimens(to.get(), times);
            return 0;
        }
        FirstFailure ignored;
        removeTreeAt(toDirectory, toName, "", toName, nullptr, ignored);
        return error;
    }
    if (::mknodat(toDirectory, toName.c_str(), item.st_mode, item.st_rdev) != 0) {
        const int error = errno;
        // Something of another kind made in its place: the file system cannot
        // hold this kind at all (exFAT through FUSE makes a file, then fails).
        struct stat made {};
        if (::fstatat(toDirectory, toName.c_str(), &made, AT_SYMLINK_NOFOLLOW) == 0 &&
            (made.st_mode & S_IFMT) != (item.st_mode & S_IFMT))
            return EOPNOTSUPP;
        return error;
    }
    error = keepOwnership(-1, toDirectory, toName, item, attributes, crossing);
    if (error != 0) {
        ::unlinkat(toDirectory, toName.c_str(), 0);
        return error;
    }
    (void)::utimensat(toDirectory, toName.c_str(), times, AT_SYMLINK_NOFOLLOW);
    crossing.noteCopy(item, toDirectory, toName);
    return 0;
}

void requirePlainNames(const Folder& from, const std::string& fromName, const std::string& toName) {
    requirePlainName(from, fromName, "Could not rename");
    if (!isPlainName(toName)) throw FileError(EINVAL, "Could not rename", from / fromName);
}

}  // namespace

std::optional<Folder> openRoot(const fs::path& root) {
    const int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (isAbsence(error)) return std::nullopt;
        throw FileError(error, "Could not open folder", root);
    }
    if (root.native().starts_with("/proc/self/"))
        if (std::optional<fs::path> at = whereItLies(fd)) return Folder{FileDescriptor(fd), std::move(*at)};
    return Folder{FileDescriptor(fd), root};
}

fs::path throughDescriptor(int descriptor) { return "/proc/self/fd/" + std::to_string(descriptor); }

std::optional<fs::path> whereItLies(int descriptor) {
    // readlink alone: the link is there while the descriptor is.
    char at[PATH_MAX];
    const ssize_t length = ::readlink(throughDescriptor(descriptor).c_str(), at, sizeof at);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof at) return std::nullopt;
    const std::string_view path(at, static_cast<std::size_t>(length));
    // The kernel marks a folder gone since with " (deleted)"; a path it
    // cannot give from this process's root is not absolute.
    if (path.front() != '/' || path.starts_with("/proc/")) return std::nullopt;
    return fs::path(std::string(path));
}

std::optional<Folder> openChild(const Folder& parent, const std::string& name) {
    requirePlainName(parent, name, "Could not open folder");
    FileDescriptor fd;
    const int error = openChildAt(parent.get(), name, fd);
    if (isAbsence(error)) return std::nullopt;
    if (error != 0) throw FileError(error, "Could not open folder", parent / name);
    return Folder{std::move(fd), parent / name};
}

std::optional<Folder> openPath(const Folder& start, const std::vector<std::string>& components) {
    if (components.empty()) {
        const int fd = ::openat(start.get(), ".", walkFlags);
        if (fd < 0) {
            const int error = errno;
            if (error == ENOENT || error == ENOTDIR) return std::nullopt;
            throw FileError(error, "Could not open folder", start.path);
        }
        return Folder{FileDescriptor(fd), start.path};
    }
    // Plain names only: the walk throws on another where it reaches it.
    if (std::all_of(components.begin(), components.end(), isPlainName)) {
        std::string relative = components.front();
        for (std::size_t i = 1; i < components.size(); ++i) (relative += '/') += components[i];
        FileDescriptor fd;
        const int found = openBeneath(start.get(), relative, fd);
        if (found == 0) return Folder{std::move(fd), start / relative};
        if (found > 0) return std::nullopt;
    }
    std::optional<Folder> current = openChild(start, components.front());
    for (std::size_t i = 1; current && i < components.size(); ++i) current = openChild(*current, components[i]);
    return current;
}

Folder ensureFolder(const Folder& parent, const std::string& name) {
    if (std::optional<Folder> existing = openChild(parent, name)) return std::move(*existing);
    // Another process may make it meanwhile; opening it then is still right.
    if (::mkdirat(parent.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
        const int error = errno;
        throw FileError(error, "Could not create folder", parent / name);
    }
    if (std::optional<Folder> made = openChild(parent, name)) return std::move(*made);
    throw FileError(ENOTDIR, "Could not create folder", parent / name);  // a link or a file stands there
}

Folder ensurePath(const Folder& start, const std::vector<std::string>& components) {
    if (components.empty()) {
        if (std::optional<Folder> again = openPath(start, components)) return std::move(*again);
        throw FileError(ENOENT, "Could not open folder", start.path);
    }
    // Mostly all there already, or all but the last: one call opens that,
    // where one call can.
    std::size_t made = 0;
    std::optional<Folder> current;
    if (!openat2Refused.load(std::memory_order_relaxed) &&
        std::all_of(components.begin(), components.end(), isPlainName)) {
        current = openPath(start, components);
        if (current) return std::move(*current);
        if (components.size() > 1) current = openPath(start, {components.begin(), components.end() - 1});
        if (current) made = components.size() - 1;
    }
    if (!current) current = ensureFolder(start, components[made++]);
    for (; made < components.size(); ++made) current = ensureFolder(*current, components[made]);
    return std::move(*current);
}

std::optional<struct stat> statChild(const Folder& parent, const std::string& name) {
    requirePlainName(parent, name, "Could not inspect");
    struct stat info {};
    if (::fstatat(parent.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return info;
    const int error = errno;
    if (isAbsence(error)) return std::nullopt;
    throw FileError(error, "Could not inspect", parent / name);
}

std::optional<struct stat> statChildAfresh(const Folder& parent, const std::string& name) {
    const std::optional<struct stat> cached = statChild(parent, name);
    if (!cached) return std::nullopt;
    FileDescriptor file;
    if (S_ISREG(cached->st_mode)) {
        file = FileDescriptor(::openat(parent.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        const int error = file.valid() ? 0 : errno;
        if (isAbsence(error)) return std::nullopt;
        // Not readable, or no longer a regular file: asked by name.
        if (error != 0 && error != EACCES && error != EPERM && error != ELOOP && error != ENXIO)
            throw FileError(error, "Could not inspect", parent / name);
    }
    struct statx info {};
    const int flags = AT_SYMLINK_NOFOLLOW | AT_STATX_FORCE_SYNC | (file.valid() ? AT_EMPTY_PATH : 0);
    if (::statx(file.valid() ? file.get() : parent.get(), file.valid() ? "" : name.c_str(), flags, STATX_BASIC_STATS,
                &info) != 0) {
        const int error = errno;
        if (isAbsence(error)) return std::nullopt;
        throw FileError(error, "Could not inspect", parent / name);
    }
    struct stat now {};
    now.st_dev = makedev(info.stx_dev_major, info.stx_dev_minor);
    now.st_ino = info.stx_ino;
    now.st_mode = info.stx_mode;
    now.st_nlink = info.stx_nlink;
    now.st_uid = info.stx_uid;
    now.st_gid = info.stx_gid;
    now.st_rdev = makedev(info.stx_rdev_major, info.stx_rdev_minor);
    now.st_size = static_cast<off_t>(info.stx_size);
    now.st_blksize = static_cast<blksize_t>(info.stx_blksize);
    now.st_blocks = static_cast<blkcnt_t>(info.stx_blocks);
    now.st_atim = {info.stx_atime.tv_sec, info.stx_atime.tv_nsec};
    now.st_mtim = {info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec};
    now.st_ctim = {info.stx_ctime.tv_sec, info.stx_ctime.tv_nsec};
    return now;
}

std::optional<FileDescriptor> openFile(const Folder& parent, const std::string& name) {
    // Looked at first: opening a device may act on it. Opened without
    // blocking, so that a pipe put in the file's place meanwhile cannot hang.
    const std::optional<struct stat> before = statChild(parent, name);
    if (!before || !S_ISREG(before->st_mode)) return std::nullopt;
    FileDescriptor file(::openat(parent.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        const int error = errno;
        if (isAbsence(error) || error == ELOOP || error == ENXIO) return std::nullopt;
        throw FileError(error, "Could not open", parent / name);
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throw FileError(errno, "Could not inspect", parent / name);
    if (!S_ISREG(info.st_mode)) return std::nullopt;
    return file;
}

std::vector<std::string> listNames(const Folder& folder) {
    std::vector<std::string> names;
    if (const int error = listNamesAt(folder.get(), names); error != 0)
        throw FileError(error, "Could not read folder", folder.path);
    return names;
}

void removeTree(const Folder& parent, const std::string& name) {
    requirePlainName(parent, name, "Could not remove");
    FirstFailure failure;
    if (!removeTreeAt(parent.get(), name, "", parent / name, nullptr, failure)) throw *failure.error;
}

bool removeFile(const Folder& parent, const std::string& name) {
    requirePlainName(parent, name, "Could not remove");
    if (::unlinkat(parent.get(), name.c_str(), 0) == 0) return true;
    const int error = errno;
    if (isAbsence(error)) return false;
    throw FileError(error, "Could not remove", parent / name);
}

bool removeEmptyFolder(const Folder& parent, const std::string& name) {
    requirePlainName(parent, name, "Could not remove folder");
    if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) == 0) return true;
    switch (const int error = errno) {
    case ENOTEMPTY:
    case EEXIST:  // "not empty" on some file systems
    case ENOENT:
    case ENOTDIR: return false;
    default: throw FileError(error, "Could not remove folder", parent / name);
    }
}

bool setModificationTime(const Folder& parent, const std::string& name, const timespec& time) {
    requirePlainName(parent, name, "Could not set the time of");
    // The access time is given as it is, never omitted: some FUSE file
    // systems (exfat-fuse) silently drop a change whose other time is omitted.
    const std::optional<struct stat> info = statChild(parent, name);
    if (!info) return false;
    const timespec times[2] = {info->st_atim, time};
    if (::utimensat(parent.get(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0) return true;
    const int error = errno;
    if (isAbsence(error)) return false;
    throw FileError(error, "Could not set the time of", parent / name);
}

// moveWithoutReplacing; 0 or an errno value.
int renameWithoutReplacing(int from, const std::string& fromName, int to, const std::string& toName) {
    if (const int answer = renameRefusingToReplace(from, fromName, to, toName); answer != -1) return answer;
    // A plain rename would silently replace: the name is claimed first.
    return moveByClaiming(from, fromName, to, toName, FileSystemCapabilities::ofOpen(to).fileNumbersLast);
}

void moveWithoutReplacing(const Folder& from, const std::string& fromName, const Folder& to,
                          const std::string& toName) {
    requirePlainNames(from, fromName, toName);
    if (const int error = renameWithoutReplacing(from.get(), fromName, to.get(), toName); error != 0)
        throw FileError(error, "Could not rename", from / fromName);
}

namespace {

// Takes a name seen free just now plainly.
int moveAfterLook(int from, const std::string& fromName, int to, const std::string& toName) {
    struct stat there {};
    if (::fstatat(to, toName.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return ::renameat(from, fromName.c_str(), to, toName.c_str()) == 0 ? 0 : errno;
}

// moveToFreeName within one file system; 0 or an errno value, EXDEV across.
// The one rule for a move that must not replace, by the folder it goes into.
// Where no one else writes, a name seen free stays free: a rename that
// refuses to replace, else one after a look. In the user's tree each way the
// disk offers is taken in turn, best first: a rename that refuses to
// replace, a name claimed by a hard link, and only where the disk has
// neither, a rename after a look. A way the disk offers that fails (an I/O
// error) fails the move: the item stays where it was, and the error says why.
int moveWithinToFreeName(int from, const std::string& fromName, int to, const std::string& toName,
                         Writers writers) {
    if (const int answer = renameRefusingToReplace(from, fromName, to, toName); answer != -1) return answer;
    if (writers == Writers::anyone) {
        const FileSystemCapabilities disk = FileSystemCapabilities::ofOpen(to);
        if (disk.hardLinks != FileSystemCapabilities::HardLinks::none || !disk.known) {
            const int error = moveByClaiming(from, fromName, to, toName, disk.fileNumbersLast);
            if (!noLinks(error)) return error;
        }
    }
    return moveAfterLook(from, fromName, to, toName);
}

// A file crosses file systems into a nameless file, linked to its name only
// once whole and never over another, so a copy cut short (a kill) leaves
// nothing behind. 0, an errno value, or -1 where this cannot be done here.
int copyFileToFreeName(int from, const std::string& fromName, int to, const std::string& toName, Crossing& crossing) {
    struct stat item {};
    if (::fstatat(from, fromName.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (!S_ISREG(item.st_mode)) return -1;
    const FileDescriptor in(::openat(from, fromName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.valid()) return errno;
    const FileDescriptor out(::openat(to, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!out.valid()) return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? -1 : errno;
    if (const int error = copyFile(in.get(), out.get(), item, crossing); error != 0) return error;
    const std::string self = throughDescriptor(out.get()).native();
    if (::linkat(AT_FDCWD, self.c_str(), to, toName.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
    const int error = errno;
    if (error == EPERM || error == EOPNOTSUPP || (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0)) return -1;
    return error;
}

// What a look before a copy saw of an item and everything below it, by
// path relative to the item ("" for the item itself).
using Seen = std::map<std::string, struct stat>;

void lookAt(int directory, const std::string& name, const std::string& relative, Seen& seen) {
    struct stat item {};
    if (::fstatat(directory, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) return;
    seen.emplace(relative, item);
    if (!S_ISDIR(item.st_mode)) return;
    FileDescriptor folder;
    std::vector<std::string> names;
    if (openChildAt(directory, name, folder) != 0 || listNamesAt(folder.get(), names) != 0) return;
    for (const std::string& child : names)
        lookAt(folder.get(), child, relative.empty() ? child : relative + "/" + child, seen);
}

}  // namespace

void moveToFreeName(const Folder& from, const std::string& fromName, const Folder& to, const std::string& toName,
                    Writers writers, const Folder* ledger) {
    requirePlainNames(from, fromName, toName);
    int error = moveWithinToFreeName(from.get(), fromName, to.get(), toName, writers);
    // Another file system: the item is copied whole, a file as a nameless
    // one, else under a name of its own beside its place, and only then put
    // at its name without replacing, so a copy cut short never stands there;
    // then the item goes.
    if (error == EXDEV) {
        const std::string temporary = std::string(copyPrefix) + Uuid::random().lowerString();
        if (ledger) {
            const FileDescriptor record(
                ::openat(ledger->get(), temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (!record.valid()) throw FileError(errno, "Could not create", *ledger / temporary);
        }
        Seen seen;
        lookAt(from.get(), fromName, "", seen);
        Crossing crossing;
        error = copyFileToFreeName(from.get(), fromName, to.get(), toName, crossing);
        if (error == -1) {
            error = copyExclusively(from.get(), fromName, to.get(), temporary, crossing);
            if (error == 0) error = moveWithinToFreeName(to.get(), temporary, to.get(), toName, writers);
            // Also after a failed copy: a file system may make something of
            // another kind before refusing (exFAT through FUSE, asked for a pipe).
            if (error != 0) {
                FirstFailure ignored;
                removeTreeAt(to.get(), temporary, "", to / temporary, nullptr, ignored);
            }
        }
        // A copy still standing keeps its record, for the next settling.
        struct stat left {};
        const bool gone = ::fstatat(to.get(), temporary.c_str(), &left, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
        if (ledger && gone && ::unlinkat(ledger->get(), temporary.c_str(), 0) != 0 && errno != ENOENT)
            throw FileError(errno, "Could not remove", *ledger / temporary);
        if (!crossing.failedAttribute.empty())
            throw FileError(error, "Could not copy the extended attribute " + crossing.failedAttribute + " of",
                            from / fromName);
        if (error == 0) {
            // Part of a folder may be gone already: the whole copy stays.
            FirstFailure failure;
            // What the look saw and has not changed since: anything put in
            // or changed meanwhile may be missing from the copy or differ
            // from it, so it stays. Unlinking one name of a file changes its
            // status time under its others: `unlinked` holds the files this
            // removal took names of.
            std::set<std::pair<dev_t, ino_t>> unlinked;
            const MayGo unchanged = [&seen, &unlinked](const std::string& relative, const struct stat& now) {
                const auto found = seen.find(relative);
                if (found == seen.end()) return false;
                const ItemVersion was = ItemVersion::of(found->second, true), is = ItemVersion::of(now, true);
                const bool named = unlinked.contains({now.st_dev, now.st_ino});
                if (!was.same(is, named ? ItemVersion::Strictness::untouched : ItemVersion::Strictness::unchanged))
                    return false;
                if (!S_ISDIR(now.st_mode) && now.st_nlink > 1) unlinked.insert({now.st_dev, now.st_ino});
                return true;
            };
            if (!removeTreeAt(from.get(), fromName, "", from / fromName, &unchanged, failure)) throw *failure.error;
        }
    }
    // "No such file" while both the item and the folder of its place are
    // there: the file system refuses the name itself (exFAT through FUSE, for
    // characters it cannot store), as others say with EINVAL.
    if (error == ENOENT) {
        struct stat item {}, folder {};
        if (::fstatat(from.get(), fromName.c_str(), &item, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(to.get(), &folder) == 0 &&
            folder.st_nlink > 0)
            error = EINVAL;
    }
    if (error != 0) throw FileError(error, "Could not rename", from / fromName);
}

Attributes attributesOf(const Folder& parent, const std::string& name) {
    requirePlainName(parent, name, "Could not read the extended attributes of");
    Attributes attributes;
    if (const int error = readAttributes(AttributeTarget::at(parent.get(), name), attributes); error != 0)
        throw FileError(error, "Could not read the extended attributes of", parent / name);
    return attributes;
}

void setAttributes(const Folder& parent, const std::string& name, const Attributes& attributes) {
    requirePlainName(parent, name, "Could not set the extended attributes of");
    std::string failed;
    if (const int error = writeAttributes(AttributeTarget::at(parent.get(), name), attributes, failed); error != 0)
        throw FileError(error, "Could not set the extended attribute " + failed + " of", parent / name);
}

bool isCopyName(std::string_view name) {
    if (!name.starts_with(copyPrefix)) return false;
    name.remove_prefix(copyPrefix.size());
    return name.size() == 36 && Uuid::parse(name).has_value();
}

std::string copyNamePattern() {
    // A UUID's digits, each any character but a slash, in its groups.
    std::string text(copyPrefix);
    for (const std::size_t digits : {8, 4, 4, 4}) text.append(digits, '?').push_back('-');
    return text.append(12, '?');
}

void clearLeftoverCopies(const Folder& ledger, const Folder* folder) {
    for (const std::string& name : listNames(ledger)) {
        if (!isCopyName(name)) continue;
        if (folder) removeTree(*folder, name);
        removeTree(ledger, name);
    }
}

void moveByClaimingDestination(const Folder& from, const std::string& fromName, const Folder& to,
                               const std::string& toName) {
    requirePlainNames(from, fromName, toName);
    const bool numbersLast = FileSystemCapabilities::ofOpen(to.get()).fileNumbersLast;
    if (const int error = moveByClaiming(from.get(), fromName, to.get(), toName, numbersLast); error != 0)
        throw FileError(error, "Could not rename", from / fromName);
}

std::optional<bool> isOneItemIfKnown(const Folder& folder, const std::string& name, const std::string& other) {
    const std::optional<struct stat> item = statChild(folder, name);
    const std::optional<struct stat> there = statChild(folder, other);
    if (!item || !there) return false;
    if (there->st_dev == item->st_dev && there->st_ino == item->st_ino) return true;
    const ItemVersion reached = ItemVersion::of(*there, false);
    if (!reached.same(ItemVersion::of(*item, false), ItemVersion::Strictness::alike)) return false;
    const std::vector<std::string> names = listNames(folder);
    if (std::find(names.begin(), names.end(), name) == names.end() ||
        std::find(names.begin(), names.end(), other) != names.end())
        return false;
    // `other` may as well reach another listed item that looks the same and
    // whose name folds alike (composed otherwise, on a volume that keeps
    // those apart): nothing then tells which it reaches.
    const auto folded = [](const std::string& text) {
        return Unicode::isValidUtf8(text) ? Unicode::caseFolded(Unicode::nfc(text)) : std::string();
    };
    const std::string key = folded(other);
    for (const std::string& listed : names) {
        if (listed == name || (!key.empty() && folded(listed) != key)) continue;
        const std::optional<struct stat> alike = statChild(folder, listed);
        if (alike && ItemVersion::of(*alike, false).same(reached, ItemVersion::Strictness::alike)) return std::nullopt;
    }
    return true;
}

bool isOneItem(const Folder& folder, const std::string& name, const std::string& other) {
    return isOneItemIfKnown(folder, name, other).value_or(false);
}

void changeSpelling(const Folder& folder, const std::string& oldName, const std::string& newName) {
    requirePlainNames(folder, oldName, newName);
    const std::optional<struct stat> item = statChild(folder, oldName);
    if (!item) throw FileError(ENOENT, "Could not rename", folder / oldName);
    const std::optional<struct stat> there = statChild(folder, newName);
    if (!there) {
        moveWithoutReplacing(folder, oldName, folder, newName);
        return;
    }
    if (!isOneItem(folder, oldName, newName)) throw FileError(EEXIST, "Could not rename", folder / oldName);

    // Linux takes a rename between two names of one item as done without
    // doing anything, so whether the stored name changed is read back, and
    // where it did not the change goes through a temporary name.
    if (::renameat(folder.get(), oldName.c_str(), folder.get(), newName.c_str()) != 0) {
        const int error = errno;
        throw FileError(error, "Could not rename", folder / oldName);
    }
    const std::vector<std::string> names = listNames(folder);
    if (std::find(names.begin(), names.end(), newName) != names.end()) return;
    const std::string temporary = ".kelto-rename-" + Uuid::random().lowerString();
    moveWithoutReplacing(folder, oldName, folder, temporary);
    try {
        moveWithoutReplacing(folder, temporary, folder, newName);
    } catch (const FileError&) {
        try {
            moveWithoutReplacing(folder, temporary, folder, oldName);  // best effort: put it back
        } catch (const FileError&) {
        }
        throw;
    }
}

FileDescriptor makeScratchFile(const Folder& folder, fs::path& path) {
    path = folder / ".";
    const int nameless = ::openat(folder.get(), ".", O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (nameless >= 0) return FileDescriptor(nameless);
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        const int error = errno;
        throw FileError(error, "Could not create scratch file", path);
    }
    const std::string name = "KeltoSync-scratch-" + Uuid::random().string();
    path = folder / name;
    FileDescriptor file(::openat(folder.get(), name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid()) {
        const int error = errno;
        throw FileError(error, "Could not create scratch file", path);
    }
    // Gone already is as good: another run may clear the folder meanwhile.
    if (::unlinkat(folder.get(), name.c_str(), 0) != 0 && errno != ENOENT) {
        const int error = errno;
        throw FileError(error, "Could not remove", path);
    }
    return file;
}

std::optional<std::int64_t> keptModificationTime(const FileDescriptor& file, std::int64_t seconds,
                                                 const fs::path& path) {
    // Both times, as an omitted one makes some FUSE file systems keep both as they were.
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    if (::futimens(file.get(), times) != 0) {
        const int error = errno;
        if (error == EINVAL || error == EOVERFLOW || error == ERANGE) return std::nullopt;
        throw FileError(error, "Could not set the modification time", path);
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        const int error = errno;
        throw FileError(error, "Could not inspect", path);
    }
    return static_cast<std::int64_t>(info.st_mtim.tv_sec);
}

std::optional<std::int64_t> fileSystemType(const fs::path& path) {
    struct statfs info {};
    if (::statfs(path.c_str(), &info) == 0) return static_cast<std::int64_t>(info.f_type);
    const int error = errno;
    if (isAbsence(error)) return std::nullopt;
    throw FileError(error, "Could not read file system", path);
}

std::optional<struct stat> PathLookup::stat(std::string_view relativePath) {
    const std::size_t slash = relativePath.rfind('/');
    if (slash == std::string_view::npos) return statChild(root_, std::string(relativePath));
    const std::string_view parent = relativePath.substr(0, slash);
    if (!known_ || parent != parentPath_) {
        known_ = false;  // stays so when opening throws
        parent_ = openPath(root_, split(parent));
        parentPath_.assign(parent);
        known_ = true;
    }
    if (!parent_) return std::nullopt;
    return statChild(*parent_, std::string(relativePath.substr(slash + 1)));
}

}  // namespace kelto::SafeFileSystem
