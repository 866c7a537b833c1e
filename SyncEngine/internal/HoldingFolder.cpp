#include "SyncEngine/internal/HoldingFolder.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/internal/HeldCrossings.h"
#include "SyncEngine/internal/HoldingRecords.h"
#include "SyncEngine/internal/SideStat.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <cstdint>
#include <map>
#include <functional>
#include <string>
#include <optional>
#include <utility>
#include <unordered_set>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

namespace {

std::vector<std::string> sortedNames(const Folder& folder) {
    std::vector<std::string> names = SafeFileSystem::listNames(folder);
    std::sort(names.begin(), names.end());
    return names;
}

constexpr std::string_view leftoverLine = "Could not clear what rsync left unfinished: ";

// Marks the folder, recording `recorded` and the kept items of `settlement`
// whose place is taken, and whether the run that held them was killed.
// Never throws: an unwritten mark leaves those items to be tried again.
void writeMark(const Folder& folder, const std::unordered_set<std::string>& recorded,
               const HoldingFolder::Settlement& settlement, bool interrupted) {
    HoldingRecords::Mark mark{interrupted, recorded};
    for (const HoldingFolder::Kept& item : settlement.kept)
        if (item.forGood() && !item.path.empty()) mark.placeTaken.insert(item.path);
    try {
        HoldingRecords::writeMark(folder, mark);
    } catch (const FileError&) {
    }
}

// Whether an item stands at the path under R; nothing is followed on the way.
bool standsAt(const Folder& root, const std::string& path) {
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    const std::string name = pieces.back();
    pieces.pop_back();
    const std::optional<Folder> parent = SafeFileSystem::openPath(root, pieces);
    return parent && SafeFileSystem::statChild(*parent, name);
}

// The folder below `root` (R, or the run's archive folder) at `pieces`,
// each missing one on the way made again with the permissions of its
// counterpart below `held` (the run's holding folder), where rsync made it
// as a copy of the folder it took the items from: a private folder comes
// back, or is archived, private. Throws FileError.
Folder placeAt(const Folder& root, const Folder& held, const std::vector<std::string>& pieces) {
    // Mostly there already: one call opens it, and nothing is made.
    if (std::optional<Folder> there = SafeFileSystem::openPath(root, pieces)) return std::move(*there);
    if (pieces.empty()) throw FileError(ENOENT, "Could not open folder", root.path);
    std::optional<Folder> parent, heldParent;
    const Folder* at = &root;
    const Folder* heldAt = &held;  // none: no counterpart
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        // The last one was missing just now: it is made, or opened where made
        // meanwhile. Its counterpart serves only as a model: its lstat is enough.
        const bool last = i + 1 == pieces.size();
        std::optional<Folder> counterpart = heldAt && !last ? SafeFileSystem::openChild(*heldAt, piece) : std::nullopt;
        std::optional<Folder> next = last ? std::nullopt : SafeFileSystem::openChild(*at, piece);
        if (!next) {
            struct stat model {};
            bool modelled = false;
            if (counterpart) {
                modelled = ::fstat(counterpart->get(), &model) == 0;
            } else if (heldAt && last) {
                const std::optional<struct stat> item = SafeFileSystem::statChild(*heldAt, piece);
                modelled = item && S_ISDIR(item->st_mode);  // a link is no folder to model on
                if (modelled) model = *item;
            }
            if (!modelled) {
                next = SafeFileSystem::ensurePath(*at, {piece});
            } else {
                // Made closed, then opened up as far as the model: never wider meanwhile.
                const bool made = ::mkdirat(at->get(), piece.c_str(), 0700) == 0;
                if (!made && errno != EEXIST) throw FileError(errno, "Could not create folder", *at / piece);
                if (made) {
                    FileDescriptor opened(
                        ::openat(at->get(), piece.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
                    if (!opened.valid() || ::fchmod(opened.get(), model.st_mode & 07777) != 0)
                        throw FileError(errno, "Could not set the permissions of", *at / piece);
                    next = Folder{std::move(opened), *at / piece};
                } else {
                    next = SafeFileSystem::ensurePath(*at, {piece});
                }
            }
        }
        parent = std::move(next);
        at = &*parent;
        heldParent = std::move(counterpart);
        heldAt = heldParent ? &*heldParent : nullptr;
    }
    return std::move(*parent);
}

// Moves one held item back to its path under R. Throws FileError: EEXIST
// when something stands there, ENOTDIR when a non-folder is on the way.
void putBack(const Folder& root, const Folder& held, const Folder& from, const std::string& name,
             const std::string& path) {
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    if (pieces.front() == ArchiveDirectories::reservedName) throw FileError(EINVAL, "Could not put back", root / path);
    pieces.pop_back();
    SafeFileSystem::moveToFreeName(from, name, placeAt(root, held, pieces), name, SafeFileSystem::Writers::anyone,
                                   &from);
}

// Whether another name of the crossed item stands at `other` under R, as
// the item itself or as the copy of it that went back this settling.
bool standsAsOtherName(const Folder& root, const std::string& other, const HoldingFolder::Crossed& crossed,
                       const HoldingFolder::Settlement& out, std::optional<Folder>& parent, std::string& name) {
    std::vector<std::string> pieces = SafeFileSystem::split(other);
    name = pieces.back();
    pieces.pop_back();
    parent = SafeFileSystem::openPath(root, pieces);
    const std::optional<struct stat> there = parent ? SafeFileSystem::statChild(*parent, name) : std::nullopt;
    if (!there) return false;
    if (there->st_dev == crossed.device && there->st_ino == crossed.fileNumber) return true;
    return crossed.isVersion(*there) && std::find(out.putBack.begin(), out.putBack.end(), other) != out.putBack.end();
}

// Puts a held item back. Where the look before the transfer saw it, as
// this version, on a file system below R, what rsync's copy dropped comes
// back too: it becomes a name of the file it was a name of, where another
// name of that stands, else it takes its extended attributes again before
// it goes back (a holding folder that cannot keep them keeps the item, named).
void putBackWhole(const Folder& root, const Folder& top, const Folder& from, const std::string& name,
                  const std::string& path, const struct stat& held, const HoldingFolder::Planned* planned,
                  const HoldingFolder::Settlement& out) {
    if (!planned) return putBack(root, top, from, name, path);
    const auto found = planned->crossed.find(path);
    if (found == planned->crossed.end() || !found->second.isVersion(held)) return putBack(root, top, from, name, path);
    const HoldingFolder::Crossed& crossed = found->second;
    for (const std::string& other : crossed.otherNames) {
        std::optional<Folder> otherParent;
        std::string otherName;
        if (!standsAsOtherName(root, other, crossed, out, otherParent, otherName)) continue;
        std::vector<std::string> pieces = SafeFileSystem::split(path);
        pieces.pop_back();
        const Folder place = placeAt(root, top, pieces);
        if (::linkat(otherParent->get(), otherName.c_str(), place.get(), name.c_str(), 0) == 0) {
            SafeFileSystem::removeTree(from, name);
            return;
        }
        if (errno == EEXIST) throw FileError(EEXIST, "Could not put back", root / path);
        // No link can be made there now: it goes back as a copy of its own.
    }
    SafeFileSystem::setAttributes(from, name, crossed.attributes);
    putBack(root, top, from, name, path);
}

// Whether the held item is the version the plan saw at its path.
bool isSeenVersion(const HoldingFolder::Planned& planned, const std::string& path, const struct stat& held) {
    const auto seen = planned.seen.find(path);
    return seen != planned.seen.end() && seen->second.same(ItemVersion::of(held, true), ItemVersion::Strictness::seen);
}

// A link's target; nothing where it cannot be read.
std::optional<std::string> linkTarget(int directory, const std::string& name) {
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlinkat(directory, name.c_str(), target.data(), target.size());
    if (n < 0) return std::nullopt;
    target.resize(static_cast<std::size_t>(n));
    return target;
}

enum class Trade { none, done, otherCameBack };

// A held version the plan never saw goes back to its place where the
// transfer's own copy stands there: the two trade places in one step and
// the copy goes, as the source still has it. What came back into the
// holding folder is the copy only while it is the item just looked at; an
// item put there meanwhile stays held.
Trade tradeWithTransferCopy(const Folder& root, const Folder& folder, const std::string& name, const std::string& path,
                            const HoldingFolder::Planned& planned) {
    if (planned.source.empty()) return Trade::none;
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    pieces.pop_back();
    const std::optional<Folder> parent = SafeFileSystem::openPath(root, pieces);
    if (!parent) return Trade::none;
    const std::optional<struct stat> standing = SafeFileSystem::statChild(*parent, name);
    const std::optional<struct stat> original = SideStat(planned.source).stat(path);
    if (!standing || !original ||
        !ItemVersion::of(*standing, true)
             .same(ItemVersion::of(*original, true), ItemVersion::Strictness::copy, planned.modifyWindow))
        return Trade::none;
    // A link's time is not kept, so only its target tells a copy.
    if (S_ISLNK(standing->st_mode)) {
        const std::optional<std::string> copy = linkTarget(parent->get(), name);
        if (!copy || copy != linkTarget(AT_FDCWD, (planned.source / path).native())) return Trade::none;
    }
    // Where the file system cannot trade (across file systems, many FUSE
    // ones), the held item stays, named.
    if (::renameat2(folder.get(), name.c_str(), parent->get(), name.c_str(), RENAME_EXCHANGE) != 0) return Trade::none;
    const std::optional<struct stat> traded = SafeFileSystem::statChild(folder, name);
    if (!traded ||
        !ItemVersion::of(*traded, true).same(ItemVersion::of(*standing, true), ItemVersion::Strictness::untouched))
        return Trade::otherCameBack;
    SafeFileSystem::removeTree(folder, name);
    return Trade::done;
}

// The one rule for what can never go back: its place is taken. Whatever
// else kept an item (no permission, a read-only or missing disk, an I/O
// error) may pass, so the item is tried again.
bool placeTaken(const FileError& error) { return error.errorNumber() == EEXIST || error.errorNumber() == ENOTDIR; }

// When a holding folder was made: its birth time where the file system
// keeps one, else its last status change (rsync fills a run's folder before
// any later run makes its own). Never the run identifier, which is local
// time: after a daylight-saving fall-back a later run's name sorts first.
std::optional<statx_timestamp> madeAt(const Folder& holdingRoot, const std::string& name) {
    struct statx info {};
    if (::statx(holdingRoot.get(), name.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &info) != 0)
        return std::nullopt;
    return (info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_ctime;
}

// The holding folders, the one made last first; by name where no time is known.
std::vector<std::string> newestFirst(const Folder& holdingRoot) {
    std::vector<std::pair<std::optional<statx_timestamp>, std::string>> folders;
    for (std::string& name : sortedNames(holdingRoot)) folders.emplace_back(madeAt(holdingRoot, name), std::move(name));
    const auto key = [](const std::optional<statx_timestamp>& t) {
        return t ? std::pair<std::int64_t, std::int64_t>(t->tv_sec, t->tv_nsec)
                 : std::pair<std::int64_t, std::int64_t>(INT64_MIN, 0);
    };
    std::stable_sort(folders.begin(), folders.end(), [&](const auto& x, const auto& y) {
        return key(x.first) != key(y.first) ? key(y.first) < key(x.first) : y.second < x.second;
    });
    std::vector<std::string> names;
    for (auto& folder : folders) names.push_back(std::move(folder.second));
    return names;
}

// The other: the file system at its place cannot hold it, so no retry can
// succeed (a link or a pipe where none can be made, a name it refuses, a
// name or a file too long).
bool cannotBeHeld(const FileError& error) {
    const int number = error.errorNumber();
    return number == ENOSYS || number == EOPNOTSUPP || number == ENAMETOOLONG || number == EFBIG ||
           number == EINVAL;
}

HoldingFolder::Kept keptFor(const std::string& path, const FileError& error) {
    return {path, error, placeTaken(error), cannotBeHeld(error)};
}

// A run's archive folder below R (none: the run keeps no archive), made
// and opened once, at its first use in a walk.
class ArchiveFolder {
public:
    explicit ArchiveFolder(std::optional<std::string> relative) : relative_(std::move(relative)) {}
    explicit operator bool() const { return relative_.has_value(); }
    const Folder& open(const Folder& root) {
        if (!opened_) opened_ = SafeFileSystem::ensurePath(root, SafeFileSystem::split(*relative_));
        return *opened_;
    }

private:
    std::optional<std::string> relative_;
    std::optional<Folder> opened_;
};

// Moves a held item into an archive folder, at its path under R. The folders
// on its way there are made as those put back are, after their counterparts
// below `top`; what rsync's copy into the holding folder dropped of the
// version `planned` looked at, the archive keeps.
void archiveHeld(const Folder& root, const Folder& top, const Folder& folder, const std::string& name,
                 const std::string& path, const HoldingFolder::Planned* planned, ArchiveFolder& archive) {
    if (planned) {
        const auto crossed = planned->crossed.find(path);
        const std::optional<struct stat> held =
            crossed != planned->crossed.end() ? SafeFileSystem::statChild(folder, name) : std::nullopt;
        if (held && crossed->second.isVersion(*held)) SafeFileSystem::setAttributes(folder, name, crossed->second.attributes);
    }
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    pieces.pop_back();
    SafeFileSystem::moveToFreeName(folder, name, placeAt(archive.open(root), top, pieces), name,
                                   SafeFileSystem::Writers::thisRunAlone);
}

// Takes away what the plan meant to: into the run's archive folder where it
// has one, else for good; where the disk refuses, the item stays held, named
// with the disk's own error, and the next run tries again.
void dropOrKeep(const Folder& root, const Folder& top, const Folder& folder, const std::string& name,
                const std::string& path, const HoldingFolder::Planned& planned, ArchiveFolder& archive,
                HoldingFolder::Settlement& out) {
    try {
        if (archive)
            archiveHeld(root, top, folder, name, path, &planned, archive);
        else
            SafeFileSystem::removeTree(folder, name);
    } catch (const FileError& error) {
        using Bound = HoldingFolder::Kept::Bound;
        out.kept.push_back({path, error, false, false, archive ? Bound::archive : Bound::away});
    }
}

// The one rule for a held version that cannot go back, its place taken (by
// the transfer's own copy, or by anything else): with an archive folder it
// goes there, named, as the archive is where a replaced version is looked
// for; without one it stays held and is named at every run until the user
// takes it. `folderChanged`: it was the version the plan saw, reached
// through a folder the plan did not see.
void archiveOrKeep(const Folder& root, const Folder& top, const Folder& folder, const std::string& name,
                   const std::string& path, const FileError& error, const HoldingFolder::Planned* planned,
                   ArchiveFolder& displaced, HoldingFolder::Settlement& out, bool folderChanged) {
    if (displaced) {
        try {
            archiveHeld(root, top, folder, name, path, planned, displaced);
            out.archived.push_back(path);
            return;
        } catch (const FileError& refused) {
            using Bound = HoldingFolder::Kept::Bound;
            out.kept.push_back({path, refused, false, cannotBeHeld(refused), Bound::archive, folderChanged});
            return;
        }
    }
    out.kept.push_back(keptFor(path, error));
    out.kept.back().folderChanged = folderChanged;
}

// Whether the plan meant to take the held item away: the version it saw, at
// a path it deletes, or replaces where something new now stands.
bool meantToGo(const Folder& root, const HoldingFolder::Planned& planned, const std::string& path,
               const struct stat& held) {
    return isSeenVersion(planned, path, held) &&
           (planned.deleted.contains(path) || (planned.replaced.contains(path) && standsAt(root, path)));
}

// Whether each folder on the way to an item under R is still the folder
// the plan saw, or gone as the plan meant it to go. rsync reaches an item
// by its path: a folder moved out of R with a link left in its place, or
// another folder put there, has it take what lies elsewhere. Looked at
// through R, never following a link; each folder once.
class FoldersAsSeen {
public:
    FoldersAsSeen(const Folder& root, const HoldingFolder::Planned& planned) : root_(root), planned_(planned) {}

    bool hold(const std::string& path) {
        for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
            if (!asSeen(path.substr(0, slash))) return false;
        return true;
    }

private:
    bool asSeen(const std::string& folder) {
        const auto [judged, fresh] = judged_.try_emplace(folder, false);
        if (fresh) judged->second = judge(folder);
        return judged->second;
    }

    bool judge(const std::string& folder) const {
        try {
            if (const std::optional<Folder> now = SafeFileSystem::openPath(root_, SafeFileSystem::split(folder))) {
                const auto seen = planned_.folders.find(folder);
                return seen != planned_.folders.end() && FolderIdentity::ofOpen(now->get()) == seen->second;
            }
            if (!planned_.deleted.contains(folder)) return false;
            // Gone as the plan meant, maybe for an item of another kind; a
            // link there is the transfer's only where the source has it too.
            std::vector<std::string> pieces = SafeFileSystem::split(folder);
            const std::string name = pieces.back();
            pieces.pop_back();
            const std::optional<Folder> parent = SafeFileSystem::openPath(root_, pieces);
            const std::optional<struct stat> there = parent ? SafeFileSystem::statChild(*parent, name) : std::nullopt;
            if (!there || !S_ISLNK(there->st_mode)) return true;
            const std::optional<std::string> target = linkTarget(parent->get(), name);
            return target && !planned_.source.empty() &&
                   target == linkTarget(AT_FDCWD, (planned_.source / folder).native());
        } catch (const FileError&) {
            return false;
        }
    }

    const Folder& root_;
    const HoldingFolder::Planned& planned_;
    std::unordered_map<std::string, bool> judged_;
};

// The put-back both settling and recovery share: the held item goes back to
// its place, trading places with the transfer's own copy where that stands
// there; else it is kept, and why.
bool standsWhole(const Folder& root, const Folder& in, const std::string& name, const std::string& path,
                 const struct stat& held);

void putBackOrKeep(const Folder& root, const Folder& top, const Folder& folder, const std::string& name,
                   const std::string& path, const struct stat& held, const HoldingFolder::Planned* planned,
                   ArchiveFolder& displaced, HoldingFolder::Settlement& out, bool folderChanged = false) {
    try {
        putBackWhole(root, top, folder, name, path, held, planned, out);
        out.putBack.push_back(path);
    } catch (const FileError& error) {
        // A put-back across file systems cut short after its copy took the
        // name: the item is back, whole, and the held one is its twin.
        try {
            if (error.errorNumber() == EEXIST && standsWhole(root, folder, name, path, held)) {
                SafeFileSystem::removeTree(folder, name);
                out.putBack.push_back(path);
                return;
            }
        } catch (const FileError&) {
            // looked at no further: the held item stays, as its place is taken
        }
        Trade trade = Trade::none;
        if (error.errorNumber() == EEXIST && planned && planned->replaced.contains(path)) {
            try {
                trade = tradeWithTransferCopy(root, folder, name, path, *planned);
            } catch (const FileError&) {
                // not traded: the held item stays, as its place is taken
            }
        }
        if (trade != Trade::none) out.putBack.push_back(path);
        if (trade == Trade::done) return;
        if (placeTaken(error))
            return archiveOrKeep(root, top, folder, name, path, error, planned, displaced, out, folderChanged);
        out.kept.push_back(keptFor(path, error));
        out.kept.back().folderChanged = folderChanged;
    }
}

// What becomes of one held item (never a folder): its path under R and its lstat.
using Visit = std::function<void(const Folder& folder, const std::string& name, const std::string& path,
                                 const struct stat& item)>;

// Visits what `folder` holds, its path under R being `prefix`, and removes
// the folders it empties. rsync holds no folder as such, only the folders
// on an item's way.
void walkHeld(const Folder& root, const Folder& folder, const std::string& prefix, const Visit& visit,
              HoldingFolder::Settlement& out) {
    std::vector<std::string> names;
    try {
        names = sortedNames(folder);
    } catch (const FileError& error) {
        out.kept.push_back({prefix, error});
        return;
    }
    // A copy back across file systems that a killed run cut short, recorded
    // here (no item of the user's bears such a name here: rsync never takes
    // one); only a record among the names just listed asks for its place.
    const auto isCopy = [](const std::string& name) { return SafeFileSystem::isCopyName(name); };
    if (std::any_of(names.begin(), names.end(), isCopy)) {
        try {
            const std::vector<std::string> pieces =
                prefix.empty() ? std::vector<std::string>{} : SafeFileSystem::split(prefix);
            const std::optional<Folder> place = SafeFileSystem::openPath(root, pieces);
            SafeFileSystem::clearLeftoverCopies(folder, place ? &*place : nullptr);
        } catch (const FileError& error) {
            out.kept.push_back({prefix, error});
        }
    }
    for (const std::string& name : names) {
        const std::string path = prefix.empty() ? name : prefix + "/" + name;
        if ((prefix.empty() && HoldingRecords::isMarkName(name)) || SafeFileSystem::isCopyName(name)) continue;
        try {
            const std::optional<struct stat> info = SafeFileSystem::statChild(folder, name);
            if (!info) continue;
            if (S_ISDIR(info->st_mode)) {
                const std::size_t keptBefore = out.kept.size();
                if (const std::optional<Folder> child = SafeFileSystem::openChild(folder, name))
                    walkHeld(root, *child, path, visit, out);
                // What still holds a kept item is not tried (a read-only disk would fail it).
                if (out.kept.size() == keptBefore) SafeFileSystem::removeEmptyFolder(folder, name);
                continue;
            }
            // Judged as the disk has it now: rsync's backup may be a second
            // name of the file, and a save through the first since leaves
            // what is cached of this one as it was, the version the plan saw.
            if (const std::optional<struct stat> now = SafeFileSystem::statChildAfresh(folder, name))
                visit(folder, name, path, *now);
        } catch (const FileError& error) {
            out.kept.push_back({path, error});
        }
    }
}

// Whether the two open files start alike for `size` bytes.
bool startAlike(int held, int standing, off_t size) {
    std::string a(65536, '\0'), b(65536, '\0');
    for (off_t at = 0; at < size;) {
        const auto want = static_cast<std::size_t>(std::min<off_t>(size - at, static_cast<off_t>(a.size())));
        const ssize_t n = ::pread(held, a.data(), want, at);
        if (n <= 0 || ::pread(standing, b.data(), static_cast<std::size_t>(n), at) != n ||
            std::memcmp(a.data(), b.data(), static_cast<std::size_t>(n)) != 0)
            return false;
        at += n;
    }
    return true;
}

// Whether the regular file standing at the held file's place passes
// `standing` and begins with the held file's bytes, both read as looked at:
// nothing put in either place meanwhile.
bool standsBeginningAlike(const Folder& root, const Folder& in, const std::string& name, const std::string& path,
                          const struct stat& held, const std::function<bool(const struct stat&)>& standing) {
    if (!S_ISREG(held.st_mode)) return false;
    std::vector<std::string> pieces = SafeFileSystem::split(path);
    pieces.pop_back();
    const std::optional<Folder> parent = SafeFileSystem::openPath(root, pieces);
    const std::optional<struct stat> there = parent ? SafeFileSystem::statChild(*parent, name) : std::nullopt;
    if (!there || !S_ISREG(there->st_mode) || there->st_size < held.st_size || !standing(*there)) return false;
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    const FileDescriptor heldFile(::openat(in.get(), name.c_str(), flags));
    const FileDescriptor standingFile(::openat(parent->get(), name.c_str(), flags));
    struct stat heldNow {}, standingNow {};
    if (!heldFile.valid() || !standingFile.valid() || ::fstat(heldFile.get(), &heldNow) != 0 ||
        ::fstat(standingFile.get(), &standingNow) != 0 || heldNow.st_ino != held.st_ino ||
        heldNow.st_dev != held.st_dev || standingNow.st_ino != there->st_ino || standingNow.st_dev != there->st_dev ||
        standingNow.st_size != there->st_size)
        return false;
    return startAlike(heldFile.get(), standingFile.get(), held.st_size);
}

// Whether a held file is rsync's copy, cut short (the disk filled as it
// copied across file systems), of an item the plan meant to take that still
// stands at its place: the very item the plan saw there, grown or written
// to since as it may be (where its disk keeps lasting numbers; elsewhere
// only the version the plan saw tells it), its first bytes the held
// file's, so the copy holds nothing the item lacks. Put back, it would find
// its place taken and stay held for good, filling the disk at each run.
bool isCutCopy(const Folder& root, const HoldingFolder::Planned& planned, const Folder& in, const std::string& name,
               const std::string& path, const struct stat& held) {
    if (!planned.deleted.contains(path) && !planned.replaced.contains(path)) return false;
    const auto seen = planned.seen.find(path);
    if (seen == planned.seen.end()) return false;
    return standsBeginningAlike(root, in, name, path, held, [&](const struct stat& there) {
        const ItemVersion standing = ItemVersion::of(there, true);
        return seen->second.fileNumber ? seen->second.same(standing, ItemVersion::Strictness::item)
                                       : seen->second.same(standing, ItemVersion::Strictness::seen);
    });
}

// Whether a whole copy of the held file, made by a put-back across file
// systems, stands at its place: a regular file on another disk, of its size
// and time to the nanosecond, whose bytes are the held one's. (On one disk
// a put-back is a rename and leaves no twin.)
bool standsWhole(const Folder& root, const Folder& in, const std::string& name, const std::string& path,
                 const struct stat& held) {
    return standsBeginningAlike(root, in, name, path, held, [&](const struct stat& there) {
        return there.st_dev != held.st_dev && there.st_size == held.st_size &&
               there.st_mtim.tv_sec == held.st_mtim.tv_sec && there.st_mtim.tv_nsec == held.st_mtim.tv_nsec;
    });
}

// Removes such a copy; where it cannot be looked at or removed, it is
// handled as any held item.
bool clearedCutCopy(const Folder& root, const HoldingFolder::Planned& planned, const Folder& in,
                    const std::string& name, const std::string& path, const struct stat& held) {
    try {
        if (!isCutCopy(root, planned, in, name, path, held)) return false;
        SafeFileSystem::removeTree(in, name);
        return true;
    } catch (const FileError&) {
        return false;
    }
}

// The name rsync writes a copy of `name` under beside it, up to the six
// characters mkstemp fills in: a dot in place of the name's own leading one,
// the name cut to fit (`depth`: the length of its folder's path in the
// transfer, slash included), no second dot before the suffix's. None where
// rsync makes no such name.
std::optional<std::string> temporaryStem(std::string_view name, std::size_t depth) {
    if (name.starts_with('.')) name.remove_prefix(1);
    constexpr std::ptrdiff_t suffix = 7;  // ".XXXXXX"
    const std::ptrdiff_t room =
        std::min<std::ptrdiff_t>(PATH_MAX - static_cast<std::ptrdiff_t>(depth) - 1 - suffix, NAME_MAX - 1 - suffix);
    if (room <= 0) return std::nullopt;
    std::size_t kept = std::min(name.size(), static_cast<std::size_t>(room - 1));
    // A cut inside a character takes the rest of its bytes too.
    if (kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0x80))
        while (kept > 0 && (static_cast<unsigned char>(name[kept - 1]) & 0x80)) --kept;
    std::string stem = "." + std::string(name.substr(0, kept));
    if (stem.back() == '.') stem.pop_back();
    return stem + ".";
}

// Whether `name` is a stem's with mkstemp's six letters or digits.
bool isTemporaryOf(const std::string& name, const std::unordered_set<std::string>& stems) {
    constexpr std::size_t unique = 6;
    if (name.size() < unique) return false;
    const auto random = std::string_view(name).substr(name.size() - unique);
    const auto made = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); };
    return std::all_of(random.begin(), random.end(), made) && stems.contains(name.substr(0, name.size() - unique));
}

// What a killed rsync left beside the planned copies: a file under the
// temporary name of one of them. Only those go, so an item of the user's
// that merely looks like one stays.
void clearTemporaries(const Folder& root, const HoldingFolder::Planned& planned, HoldingFolder::Settlement& out) {
    std::map<std::string, std::unordered_set<std::string>> stems;  // by folder
    for (const std::string& path : planned.copies) {
        const std::size_t slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash);
        const std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
        if (name.empty()) continue;
        if (std::optional<std::string> stem = temporaryStem(name, folder.empty() ? 0 : folder.size() + 1))
            stems[folder].insert(std::move(*stem));
    }
    for (const auto& [folder, names] : stems) {
        std::optional<Folder> in;
        std::vector<std::string> listed;
        try {
            in = SafeFileSystem::openPath(root, folder.empty() ? std::vector<std::string>{}
                                                               : SafeFileSystem::split(folder));
            if (in) listed = SafeFileSystem::listNames(*in);
        } catch (const FileError& error) {
            out.leftovers.push_back(error);
        }
        for (const std::string& name : listed) {
            if (!isTemporaryOf(name, names)) continue;
            try {
                const std::optional<struct stat> item = SafeFileSystem::statChild(*in, name);
                if (item && S_ISREG(item->st_mode)) SafeFileSystem::removeFile(*in, name);
            } catch (const FileError& error) {
                out.leftovers.push_back(error);
            }
        }
    }
}

// The one rule settling and recovery share for a held item: it goes only
// as the plan meant it to, through the folders the plan saw; the rest goes
// back, or, its place taken, into the archive or stays held, named.
// `archive`: where what the plan meant to take goes; `displaced`: where what
// cannot go back goes.
void settleItem(const Folder& root, const Folder& top, const Folder& in, const std::string& name,
                const std::string& path, const struct stat& item, const HoldingFolder::Planned* planned,
                FoldersAsSeen& folders, ArchiveFolder& archive, ArchiveFolder& displaced,
                HoldingFolder::Settlement& out) {
    const bool meant = planned && meantToGo(root, *planned, path, item);
    if (meant && folders.hold(path)) return dropOrKeep(root, top, in, name, path, *planned, archive, out);
    putBackOrKeep(root, top, in, name, path, item, planned, displaced, out, meant);
}

// Settling by the run that held: what it meant to take goes, the rest back.
void settleFolder(const Folder& root, const Folder& folder, const HoldingFolder::Planned& planned,
                  HoldingFolder::Settlement& out) {
    FoldersAsSeen folders(root, planned);
    ArchiveFolder archive(planned.archiveTo);
    const Visit settleOne = [&](const Folder& in, const std::string& name, const std::string& path,
                                const struct stat& item) {
        if (clearedCutCopy(root, planned, in, name, path, item)) return;
        settleItem(root, folder, in, name, path, item, &planned, folders, archive, archive, out);
    };
    walkHeld(root, folder, "", settleOne, out);
}

// Recovery of what an earlier run left: settled as that run would have, by
// the plan it recorded; without one everything goes back. What a mark
// records as kept for good is traded for nothing: while something stands at
// its place it goes into the recovering run's archive folder, `displaced`,
// where that run has one, else stays, named again; at a free place it is
// tried as any held item, so that what the disk there cannot hold is named
// with the disk's own words.
void recoverFolder(const Folder& root, const Folder& folder, const HoldingFolder::Planned* recorded,
                   const std::unordered_set<std::string>* leftAlone, ArchiveFolder& displaced,
                   HoldingFolder::Settlement& out) {
    if (recorded) clearTemporaries(root, *recorded, out);
    const HoldingFolder::Planned none;
    FoldersAsSeen folders(root, recorded ? *recorded : none);
    ArchiveFolder archive(recorded ? recorded->archiveTo : std::nullopt);
    const Visit recoverOne = [&](const Folder& in, const std::string& name, const std::string& path,
                                 const struct stat& item) {
        // Also one an earlier run kept for good, before such copies were told apart.
        if (recorded && clearedCutCopy(root, *recorded, in, name, path, item)) return;
        if (leftAlone && leftAlone->contains(path)) {
            if (standsAt(root, path))
                return archiveOrKeep(root, folder, in, name, path,
                                     FileError(EEXIST, "Could not put back", root / path), recorded, displaced, out,
                                     false);
            return putBackOrKeep(root, folder, in, name, path, item, nullptr, displaced, out);
        }
        settleItem(root, folder, in, name, path, item, recorded, folders, archive, displaced, out);
    };
    walkHeld(root, folder, "", recoverOne, out);
}

// Of the conflicts a run recorded, those whose loser, as its plan saw it,
// no longer stands at its place under R, something else does: the run's
// copy replaced it. A loser the plan saw no version of always goes back;
// one that cannot be looked at is named, rather than lost unnamed.
std::vector<std::string> replacedLosers(const Folder& root, const HoldingFolder::Planned& planned) {
    std::vector<std::string> out;
    for (const std::string& path : planned.conflicts) {
        if (!planned.seen.contains(path)) continue;
        std::vector<std::string> pieces = SafeFileSystem::split(path);
        const std::string name = pieces.back();
        pieces.pop_back();
        try {
            const std::optional<Folder> parent = SafeFileSystem::openPath(root, pieces);
            const std::optional<struct stat> item = parent ? SafeFileSystem::statChild(*parent, name) : std::nullopt;
            if (item && !isSeenVersion(planned, path, *item)) out.push_back(path);
        } catch (const FileError&) {
            out.push_back(path);
        }
    }
    return out;
}

}  // namespace

bool HoldingFolder::Crossed::isVersion(const struct stat& held) const {
    return (held.st_mode & S_IFMT) == kind && held.st_size == size && held.st_mtim.tv_sec == mtime.tv_sec &&
           held.st_mtim.tv_nsec == mtime.tv_nsec;
}

void HoldingFolder::lookBelow(const fs::path& root, const std::vector<fs::path>& mounts, Planned& planned) {
    HeldCrossings::lookBelow(root, mounts, planned);
}

void HoldingFolder::lookAtReplaced(const fs::path& root, const std::vector<std::string>& paths, Planned& planned) {
    HeldCrossings::lookAtReplaced(root, paths, planned);
}

void HoldingFolder::lookAtFolders(const fs::path& root, Planned& planned) {
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) return;
    std::unordered_set<std::string> looked;
    for (const auto& [path, version] : planned.seen)
        for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1)) {
            std::string folder = path.substr(0, slash);
            if (!looked.insert(folder).second) continue;
            try {
                const std::optional<Folder> opened =
                    SafeFileSystem::openPath(*rootFolder, SafeFileSystem::split(folder));
                const std::optional<FolderIdentity> identity =
                    opened ? FolderIdentity::ofOpen(opened->get()) : std::nullopt;
                if (identity) planned.folders.emplace(std::move(folder), *identity);
            } catch (const FileError&) {
                // not noted: what lies in it stays
            }
        }
}

std::optional<HoldingShortfall> HoldingFolder::shortfall(const fs::path& root, const fs::path& shown,
                                                         const Planned& planned) {
    return HeldCrossings::shortfall(root, shown, planned);
}

std::string HoldingFolder::relativePath(std::string_view runID) {
    return std::string(ArchiveDirectories::reservedName) + "/" + std::string(ArchiveDirectories::holdingName) + "/" +
           std::string(runID);
}

void HoldingFolder::prepare(const fs::path& root, const std::string& runID) {
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    SafeFileSystem::ensurePath(*rootFolder, SafeFileSystem::split(relativePath(runID)));
}

void HoldingFolder::record(const fs::path& root, const std::string& runID, const Planned& planned) {
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    const std::optional<Folder> holdingRoot = HoldingRecords::openHoldingRoot(*rootFolder);
    if (!holdingRoot) throw FileError(ENOENT, "Could not open folder", root / relativePath(runID));
    HoldingRecords::writePlan(*holdingRoot, runID, planned);
}

HoldingFolder::Settlement HoldingFolder::settle(const fs::path& root, const std::string& runID,
                                                const Planned& planned) {
    Settlement result;
    result.folder = relativePath(runID);
    result.runID = runID;
    result.archivedIn = planned.archiveTo.value_or("");
    try {
        const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
        if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
        clearTemporaries(*rootFolder, planned, result);
        const std::optional<Folder> holdingRoot = HoldingRecords::openHoldingRoot(*rootFolder);
        if (!holdingRoot) return result;  // nothing was held
        const std::optional<Folder> folder = SafeFileSystem::openChild(*holdingRoot, runID);
        if (!folder) return result;
        settleFolder(*rootFolder, *folder, planned, result);
        if (result.kept.empty() && SafeFileSystem::removeEmptyFolder(*holdingRoot, runID) &&
            planned.conflicts.empty())
            HoldingRecords::removePlan(*holdingRoot, runID);
    } catch (const FileError& error) {
        result.kept.push_back({"", error});
    }
    result.onlyPlaceTaken = !result.kept.empty() && !result.hasRetries();
    return result;
}

bool HoldingFolder::Settlement::heldUnseen() const {
    return !putBack.empty() || std::any_of(kept.begin(), kept.end(), [](const Kept& item) {
               return item.bound == Kept::Bound::back && !item.path.empty() && !item.folderChanged;
           });
}

bool HoldingFolder::Settlement::displaced() const {
    return !archived.empty() ||
           std::any_of(kept.begin(), kept.end(), [](const Kept& item) { return item.forGood() && !item.path.empty(); });
}

bool HoldingFolder::Settlement::hasRetries() const {
    return std::any_of(kept.begin(), kept.end(), [](const Kept& item) { return !item.forGood(); });
}

void HoldingFolder::describeRecovered(const Settlement& settlement, const fs::path& root,
                                      std::vector<std::string>& lines) {
    const bool finished = settlement.fromFinishedRun;
    describe(settlement,
             {finished ? "Put back from an earlier run: " : "Put back from an interrupted run: ",
              finished ? "Kept from an earlier run in " : "Kept from an interrupted run in ",
              finished ? "Archived from an earlier run in " : "Archived from an interrupted run in "},
             root, lines);
}

void HoldingFolder::describe(const Settlement& settlement, const Wording& wording, const fs::path& root,
                             std::vector<std::string>& lines) {
    const std::string_view kept = wording.kept;
    for (const std::string& path : settlement.putBack) lines.push_back(std::string(wording.putBack) + path);
    for (const std::string& path : settlement.archived)
        lines.push_back(std::string(wording.archived) + settlement.archivedIn + " (its place is taken): " + path);
    for (const Kept& item : settlement.kept) {
        // Its real cause: a version the plan never saw whose place is
        // taken, or a move the disk refused, in the disk's own words.
        const std::string what = item.reason.what();
        const std::string reason = item.placeTaken                    ? std::string("its place is taken")
                                   : item.cannotBeHeld                ? what + "; it can never go back"
                                   : item.bound == Kept::Bound::archive ? "the disk refused to archive it: " + what
                                   : item.bound == Kept::Bound::away    ? "the disk refused to remove it: " + what
                                   : item.path.empty()                ? what
                                                                      : "the disk refused to put it back: " + what;
        const std::string why =
            item.folderChanged ? "a folder on its way is no longer the one the plan saw; " + reason : reason;
        std::string line = std::string(kept) + settlement.folder + " (" + why + ")";
        if (!item.path.empty()) line += ": " + item.path;
        lines.push_back(std::move(line));
    }
    for (const FileError& leftover : settlement.leftovers)
        lines.push_back(std::string(leftoverLine) + leftover.what());
    if (settlement.hasRetries()) lines.emplace_back(OneWayEngine::triedAgainLine);
    if (settlement.onlyPlaceTaken)
        lines.push_back("Delete " + (root / settlement.folder).native() + " once you no longer need what it holds");
}

void HoldingFolder::describe(const Settlement& settlement, const fs::path& root, std::vector<std::string>& lines) {
    describe(settlement, {"Put back: ", "Kept in ", "Archived in "}, root, lines);
}

void HoldingFolder::conflictsNamed(const fs::path& root, const std::string& runID) {
    try {
        const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
        const std::optional<Folder> holdingRoot =
            rootFolder ? HoldingRecords::openHoldingRoot(*rootFolder) : std::nullopt;
        if (!holdingRoot) return;
        if (!SafeFileSystem::statChild(*holdingRoot, runID)) return HoldingRecords::removePlan(*holdingRoot, runID);
        std::optional<Planned> plan = HoldingRecords::readPlan(*holdingRoot, runID);
        if (!plan || plan->conflicts.empty()) return;
        plan->conflicts.clear();
        HoldingRecords::writePlan(*holdingRoot, runID, *plan);
    } catch (const FileError&) {
    }
}

void HoldingFolder::markReported(const fs::path& root, const std::string& runID, const Settlement& settlement) {
    try {
        const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
        if (!rootFolder) return;
        const std::optional<Folder> holdingRoot = HoldingRecords::openHoldingRoot(*rootFolder);
        if (!holdingRoot) return;
        if (const std::optional<Folder> folder = SafeFileSystem::openChild(*holdingRoot, runID))
            writeMark(*folder, {}, settlement, false);
    } catch (const FileError&) {
    }
}

std::vector<HoldingFolder::Settlement> HoldingFolder::recover(const fs::path& root,
                                                             const std::optional<std::string>& archiveTo) {
    std::vector<Settlement> result;
    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    if (!rootFolder) throw FileError(ENOENT, "Could not open folder", root);
    const std::optional<Folder> holdingRoot = HoldingRecords::openHoldingRoot(*rootFolder);
    if (!holdingRoot) return result;
    // Newest first: a later run held what stood at a path after an earlier
    // run's item for it, so that one goes back, and the earlier one finds its
    // place taken and stays held.
    const std::vector<std::string> runIDs = newestFirst(*holdingRoot);
    // A run's folder and its plan are two entries, in either order: its
    // conflicts are judged at the first, once.
    std::unordered_set<std::string> judged;
    for (const std::string& runID : runIDs) {
        Settlement settlement;
        settlement.folder = relativePath(runID);
        settlement.runID = runID;
        settlement.archivedIn = archiveTo.value_or("");
        // The conflicts of a run that did not live to name them, judged once
        // what it held has been settled.
        const auto nameConflicts = [&](const std::optional<Planned>& plan) {
            judged.insert(settlement.runID);
            settlement.conflictsRecorded = plan && !plan->conflicts.empty();
            if (settlement.conflictsRecorded && !settlement.fromFinishedRun)
                settlement.conflicts = replacedLosers(*rootFolder, *plan);
        };
        try {
            const std::optional<Folder> folder = SafeFileSystem::openChild(*holdingRoot, runID);
            if (!folder) {
                // A plan whose run's folder is gone serves only to name the
                // conflicts it records; one whose writing a kill cut short, nothing.
                const std::optional<std::string> run = HoldingRecords::runOfPlan(runID);
                if (run && judged.contains(*run)) continue;
                if (run && !SafeFileSystem::statChild(*holdingRoot, *run)) {
                    settlement.folder = relativePath(*run);
                    settlement.runID = *run;
                    nameConflicts(HoldingRecords::readPlan(*holdingRoot, *run));
                }
                if (!settlement.conflictsRecorded) HoldingRecords::removeIfStray(*holdingRoot, runID);
                if (settlement.conflictsRecorded) result.push_back(std::move(settlement));
                continue;  // not a folder: nothing a run left
            }
            const std::optional<HoldingRecords::Mark> mark = HoldingRecords::readMark(*folder);
            const std::optional<Planned> plan = HoldingRecords::readPlan(*holdingRoot, runID);
            settlement.fromFinishedRun = mark && !mark->interrupted;
            ArchiveFolder displaced(archiveTo);
            recoverFolder(*rootFolder, *folder, plan ? &*plan : nullptr, mark ? &mark->placeTaken : nullptr,
                          displaced, settlement);
            nameConflicts(plan);
            bool removed = false;
            if (settlement.kept.empty()) {
                // A mark alone, its items put back or deleted by the user, goes with the
                // folder; so does one that cannot be read, or what a kill left of one.
                const std::vector<std::string> names = sortedNames(*folder);
                if (std::all_of(names.begin(), names.end(), HoldingRecords::isMarkName))
                    for (const std::string& name : names) SafeFileSystem::removeTree(*folder, name);
                removed = SafeFileSystem::removeEmptyFolder(*holdingRoot, runID);
                if (removed && !settlement.conflictsRecorded) HoldingRecords::removePlan(*holdingRoot, runID);
            }
            // The folder records what has lost its place, a killed run's as a
            // finished run's; each is named at every run while it stays.
            if (!removed) {
                const std::unordered_set<std::string> before =
                    mark ? mark->placeTaken : std::unordered_set<std::string>{};
                std::unordered_set<std::string> now;
                for (const Kept& item : settlement.kept)
                    if (item.forGood() && !item.path.empty()) now.insert(item.path);
                if (now != before) writeMark(*folder, {}, settlement, !settlement.fromFinishedRun);
                settlement.onlyPlaceTaken = !settlement.kept.empty() && !settlement.hasRetries();
            }
        } catch (const FileError& error) {
            settlement.kept.push_back({"", error});
        }
        if (settlement.hasItems()) result.push_back(std::move(settlement));
    }
    std::reverse(result.begin(), result.end());
    return result;
}

}  // namespace kelto
