#include "SyncEngine/internal/OverlapMarkers.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Uuid.h"

#include <dirent.h>
#include <fnmatch.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
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
        if (!OverlapMarkers::isMarkerName(name)) continue;
        FileDescriptor marker(::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        // Markers are empty files; anything holding data is the user's.
        struct stat info {};
        if (!marker.valid() || ::fstat(marker.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0)
            continue;
        if (::flock(marker.get(), LOCK_EX | LOCK_NB) == 0) stale.emplace_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : stale) ::unlinkat(folder, name.c_str(), 0);
}

}  // namespace

OverlapMarkers::OverlapMarkers(const fs::path& a, const fs::path& b, const FilterSet& filters,
                               const TreeOverlap& overlap, std::stop_token stop) {
    const std::string token = Uuid::random().string();
    a_.root = a;
    b_.root = b;
    // No filter hides a marker's own name from a walk (names()); one that
    // may hide the reserved folder below a walk's top keeps them at the tops.
    const std::vector<std::string> patterns = filters.effectivePatterns();
    const bool atTops = std::any_of(patterns.begin(), patterns.end(), mayHide);
    for (auto [side, letter] : {std::pair{&a_, "-A"}, std::pair{&b_, "-B"}}) {
        side->name = std::string(prefix) + token + letter;
        try {
            place(*side, atTops);
        } catch (const FileError& e) {
            take(*side);
            side->name.clear();
            side->failure = e.errorNumber();
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
    // A file system that serves its listings from a cache may hide a new
    // name from the walks, never from a lookup: where one side's tree holds
    // a mount, the other side's top shown right there is looked up; where
    // only the trees' evidence places a side's folders, the other side's
    // marker at each of them, and both markers must stand to tell. Those go
    // on beside the walks: a walk over a network share would wait for them
    // otherwise.
    try {
        std::vector<TreeNameLookup::Tree> trees;
        for (const auto& [side, other] : {std::pair{&a_, &b_}, std::pair{&b_, &a_}})
            for (const TreeOverlap::Lookup& lookup : overlap.lookups(side->root)) {
                if (lookup.throughout) {
                    for (const Side* unmarked : {side, other})
                        if (unmarked->name.empty())
                            throw FileError(unmarked->failure,
                                            "No marker, which alone tells whether the folders reach each other "
                                            "there, could be placed in",
                                            unmarked->root);
                    trees.push_back({lookup.at, other->reserved.valid() ? reserved + "/" + other->name : other->name});
                    continue;
                }
                if (other->name.empty()) continue;
                for (const fs::path& there : {lookup.at / other->name, lookup.at / reserved / other->name}) {
                    struct stat info {};
                    if (::lstat(there.c_str(), &info) == 0) seen_ = true;
                }
            }
        if (!trees.empty() && !seen_) throughout_ = std::make_unique<TreeNameLookup>(std::move(trees), std::move(stop));
    } catch (...) {
        take(a_);
        take(b_);
        throw;
    }
}

void OverlapMarkers::clearLeftIn(const fs::path& root) {
    const FileDescriptor top(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return;
        throw FileError(errno, "Could not open", root);
    }
    const FileDescriptor inReserved(
        ::openat(top.get(), reserved.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!inReserved.valid() && errno != ENOENT && errno != ENOTDIR && errno != ELOOP)
        throw FileError(errno, "Could not open", root / reserved);
    for (const auto& [folder, path] : {std::pair{top.get(), root}, std::pair{inReserved.get(), root / reserved}}) {
        if (folder < 0) continue;
        const timespec time = modified(folder, path);
        clearStale(folder);
        setModified(folder, time);
    }
}

bool OverlapMarkers::seen() const {
    if (!seen_ && throughout_ && throughout_->found()) seen_ = true;
    return seen_;
}

bool OverlapMarkers::isMarkerName(std::string_view name) {
    if (!name.starts_with(prefix)) return false;
    name.remove_prefix(prefix.size());
    if (!name.ends_with("-A") && !name.ends_with("-B")) return false;
    name.remove_suffix(2);
    return name.size() == 36 && Uuid::parse(name).has_value();
}

std::string OverlapMarkers::pattern() {
    // A UUID's digits, each any character but a slash, in its groups.
    std::string text(prefix);
    for (const std::size_t digits : {8, 4, 4, 4, 12}) text.append(digits, '?').push_back('-');
    return text + "[AB]";
}

std::vector<std::string> OverlapMarkers::names() const {
    std::vector<std::string> placed;
    for (const Side* side : {&a_, &b_})
        if (!side->name.empty()) placed.push_back(side->name);
    return placed;
}

bool OverlapMarkers::mayHide(const std::string& text) {
    std::string_view pattern = text;
    while (pattern.ends_with('/')) pattern.remove_suffix(1);
    // Anchored without a further slash: the walk's top only, where the
    // reserved folder is never walked anyway.
    if (pattern.starts_with('/') && pattern.find('/', 1) == std::string_view::npos) return false;
    if (const std::size_t slash = pattern.rfind('/'); slash != std::string_view::npos) pattern.remove_prefix(slash + 1);
    if (pattern.empty()) return false;
    const std::string last(pattern);
    return ::fnmatch(last.c_str(), reserved.c_str(), 0) == 0;
}

OverlapMarkers::~OverlapMarkers() {
    throughout_.reset();
    take(a_);
    take(b_);
}

void OverlapMarkers::place(Side& side, bool atTopAlways) {
    side.top = FileDescriptor(::open(side.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!side.top.valid()) throw FileError(errno, "Could not open", side.root);
    side.topTime = modified(side.top.get(), side.root);

    // In the reserved folder, which no walk of the side itself enters; at the
    // top where there is none or the job's filters may hide it, under a name
    // never used again, so that no cache of a stacked file system over the
    // side still shows what was taken away.
    side.reserved = FileDescriptor(::openat(side.top.get(), reserved.c_str(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!side.reserved.valid() && errno != ENOENT) throw FileError(errno, "Could not open", side.root / reserved);
    if (side.reserved.valid() && atTopAlways) {
        const timespec time = modified(side.reserved.get(), side.root / reserved);
        clearStale(side.reserved.get());
        setModified(side.reserved.get(), time);
        side.reserved.reset();
    }
    const bool atTop = !side.reserved.valid();
    const int folder = atTop ? side.top.get() : side.reserved.get();
    const fs::path folderPath = atTop ? side.root : side.root / reserved;
    if (!atTop) side.reservedTime = modified(folder, folderPath);
    // A killed run may have left its marker at the top before the reserved
    // folder came: both places are cleared, the top's time kept.
    clearStale(side.top.get());
    if (!atTop) {
        clearStale(folder);
        setModified(side.top.get(), *side.topTime);
    }

    const fs::path markerPath = folderPath / side.name;
    side.marker = FileDescriptor(
        ::openat(folder, side.name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    const int created = errno;
    // Before anything walks the side: its top must look untouched.
    if (atTop) setModified(side.top.get(), *side.topTime);
    if (!side.marker.valid()) throw FileError(created, "Could not create", markerPath);
    // Held until the marker goes. Another value clearing stale markers may
    // have taken this one before the lock: then it is no longer there.
    ::flock(side.marker.get(), LOCK_EX | LOCK_NB);
    struct stat held {}, there {};
    if (::fstat(side.marker.get(), &held) != 0 ||
        ::fstatat(folder, side.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 || held.st_ino != there.st_ino ||
        held.st_dev != there.st_dev)
        throw FileError(ENOENT, "Could not keep", markerPath);
}

void OverlapMarkers::take(Side& side) noexcept {
    const int folder = side.reserved.valid() ? side.reserved.get() : side.top.get();
    if (side.marker.valid()) {
        ::unlinkat(folder, side.name.c_str(), 0);
        side.marker.reset();
    }
    if (side.reserved.valid() && side.reservedTime) setModified(side.reserved.get(), *side.reservedTime);
    if (side.top.valid() && side.topTime) setModified(side.top.get(), *side.topTime);
    side.reserved.reset();
    side.top.reset();
    side.topTime.reset();
    side.reservedTime.reset();
}

bool OverlapMarkers::catches(std::string_view path, Walk walk) const {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // Another run's marker (or one a killed run left) is no user's item
    // either, yet shows nothing of these sides.
    if (!isMarkerName(name)) return false;
    if (name != a_.name && name != b_.name) return true;
    // A side's own marker at the top of its own walk is the only sighting
    // that shows nothing.
    const std::string& own = walk == Walk::a ? a_.name : b_.name;
    if (slash != std::string_view::npos || name != own) seen_ = true;
    return true;
}

}  // namespace kelto
