#include "SyncEngine/internal/OverlapMarkers.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Uuid.h"

#include <dirent.h>
#include <fnmatch.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <exception>
#include <vector>

namespace kelto {

namespace fs = std::filesystem;

namespace {

const std::string reserved(ArchiveDirectories::reservedName);

void setModified(int folder, const timespec& time) {
    const timespec times[2] = {{0, UTIME_OMIT}, time};
    ::futimens(folder, times);
}

timespec modified(int folder, const fs::path& path) {
    struct stat info {};
    if (::fstat(folder, &info) != 0) throw FileError(errno, "Could not read", path);
    return info.st_mtim;
}

// Markers whose owner is gone: nobody holds the lock every live one is held
// under. One that cannot be locked (a file system without locks) stays.
void clearStale(int folder) {
    const int listed = ::dup(folder);
    if (listed < 0) return;
    DIR* dir = ::fdopendir(listed);
    if (!dir) {
        ::close(listed);
        return;
    }
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(OverlapMarkers::prefix)) continue;
        FileDescriptor marker(::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (marker.valid() && ::flock(marker.get(), LOCK_EX | LOCK_NB) == 0) stale.emplace_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) ::unlinkat(folder, name.c_str(), 0);
}

}  // namespace

OverlapMarkers::OverlapMarkers(const fs::path& a, const fs::path& b, const FilterSet& filters,
                               const TreeOverlap& overlap) {
    const std::string token = Uuid::random().string();
    a_.root = a;
    b_.root = b;
    for (auto [side, letter] : {std::pair{&a_, "-A"}, std::pair{&b_, "-B"}}) {
        side->name = std::string(prefix) + token + letter;
        try {
            place(*side);
        } catch (const FileError& e) {
            take(*side);
            side->name.clear();
            try {
                overlap.note("No marker could be placed in " + side->root.native() + " (" + e.reason() +
                             "): only the mounts tell whether the folders reach each other");
            } catch (...) {
                take(a_);
                take(b_);
                throw;
            }
        } catch (...) {
            take(a_);
            take(b_);
            throw;
        }
    }
    for (const std::string& pattern : filters.effectivePatterns())
        if (mayHide(pattern)) {
            try {
                overlap.note("The job's filter " + pattern +
                             " may hide the markers: only the mounts tell whether the folders reach each other");
            } catch (...) {
                take(a_);
                take(b_);
                throw;
            }
        }
}

bool OverlapMarkers::mayHide(std::string_view pattern) {
    while (pattern.ends_with('/')) pattern.remove_suffix(1);
    // Anchored without a further slash: the walk's top only, where the
    // reserved folder is never walked anyway.
    if (pattern.starts_with('/') && pattern.find('/', 1) == std::string_view::npos) return false;
    if (const std::size_t slash = pattern.rfind('/'); slash != std::string_view::npos) pattern.remove_prefix(slash + 1);
    if (pattern.empty()) return false;
    const std::string last(pattern);
    const std::string marker = std::string(prefix) + "0-A";
    return ::fnmatch(last.c_str(), reserved.c_str(), 0) == 0 || ::fnmatch(last.c_str(), marker.c_str(), 0) == 0;
}

OverlapMarkers::~OverlapMarkers() {
    take(a_);
    take(b_);
}

void OverlapMarkers::place(Side& side) {
    side.top = FileDescriptor(::open(side.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!side.top.valid()) throw FileError(errno, "Could not open", side.root);
    side.topTime = modified(side.top.get(), side.root);
    const fs::path reservedPath = side.root / reserved;

    side.reserved = FileDescriptor(::openat(side.top.get(), reserved.c_str(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!side.reserved.valid() && errno == ENOENT) {
        const bool made = ::mkdirat(side.top.get(), reserved.c_str(), 0777) == 0;
        if (!made && errno != EEXIST) throw FileError(errno, "Could not create", reservedPath);
        // Before anything walks the side: its top must look untouched.
        if (made) setModified(side.top.get(), *side.topTime);
        side.reserved = FileDescriptor(::openat(side.top.get(), reserved.c_str(),
                                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!side.reserved.valid()) throw FileError(errno, "Could not open", reservedPath);
    side.reservedTime = modified(side.reserved.get(), reservedPath);
    clearStale(side.reserved.get());

    const fs::path markerPath = reservedPath / side.name;
    side.marker = FileDescriptor(::openat(side.reserved.get(), side.name.c_str(),
                                          O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!side.marker.valid()) throw FileError(errno, "Could not create", markerPath);
    // Held until the marker goes. Another value clearing stale markers may
    // have taken this one before the lock: then it is no longer there.
    ::flock(side.marker.get(), LOCK_EX | LOCK_NB);
    struct stat held {}, there {};
    if (::fstat(side.marker.get(), &held) != 0 ||
        ::fstatat(side.reserved.get(), side.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
        held.st_ino != there.st_ino || held.st_dev != there.st_dev)
        throw FileError(ENOENT, "Could not keep", markerPath);
}

void OverlapMarkers::take(Side& side) noexcept {
    if (side.marker.valid()) {
        ::unlinkat(side.reserved.get(), side.name.c_str(), 0);
        side.marker.reset();
    }
    // A reserved folder made for the marker stays, as every synchronised
    // folder's may: no walk sees it. Taken away, it would stay in the
    // caches of a stacked file system over the side, and hide the next
    // marker there from the walks through it.
    if (side.reserved.valid() && side.reservedTime) setModified(side.reserved.get(), *side.reservedTime);
    if (side.top.valid() && side.topTime) setModified(side.top.get(), *side.topTime);
    side.reserved.reset();
    side.top.reset();
    side.topTime.reset();
    side.reservedTime.reset();
}

bool OverlapMarkers::catches(std::string_view path) const {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (const std::size_t slash = path.rfind('/'); slash != std::string_view::npos) path.remove_prefix(slash + 1);
    if (path.empty() || (path != a_.name && path != b_.name)) return false;
    seen_ = true;
    return true;
}

}  // namespace kelto
