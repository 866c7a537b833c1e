#include "SyncAutomation/FileSystemPlaces.h"

#include "SyncEngine/FileSystemTraits.h"
#include "SyncModel/Support/PathComponents.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <set>
#include <unordered_map>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// Stacked mounts may be stacked on one another; past this many the rest is
// not followed.
constexpr int deepestStack = 16;

std::vector<std::string> shownFolder(const MountedVolume& mount) {
    return PathComponents::of(fs::path("/") / mount.fileSystemRoot);
}

std::string folded(const std::string& name) { return Unicode::caseFolded(name); }

bool isPrefix(const std::vector<std::string>& prefix, const std::vector<std::string>& path, bool foldCase) {
    if (!foldCase) return PathComponents::isPrefix(prefix, path);
    return prefix.size() <= path.size() &&
           std::equal(prefix.begin(), prefix.end(), path.begin(),
                      [](const std::string& x, const std::string& y) { return x == y || folded(x) == folded(y); });
}

bool sameFileSystem(const MountedVolume& a, const MountedVolume& b) { return a.device != 0 && a.device == b.device; }

// A mount with its point and the folder it shows as components.
struct Indexed {
    const MountedVolume* mount;
    std::vector<std::string> at;
    std::vector<std::string> shown;
};

// Components written as one text ending in "/", so that a text prefix is a
// component prefix.
std::string keyText(const std::vector<std::string>& parts) {
    std::string text;
    for (const std::string& part : parts) text += part == "/" ? part : part + "/";
    return text;
}

// The mounts by mount point, worked out once for every path one question
// places: a tree can hold hundreds of mounts, each followed to what it is
// stacked on, so finding a path's mount and the mounts below it must not
// walk the whole list.
class Index {
public:
    explicit Index(const std::vector<MountedVolume>& mounts) {
        entries_.reserve(mounts.size());
        for (const MountedVolume& mount : mounts)
            entries_.push_back({&mount, PathComponents::of(mount.root), shownFolder(mount)});
        for (const Indexed& entry : entries_) {
            const std::string key = keyText(entry.at);
            byPoint_.emplace(key, &entry);
            sorted_.emplace_back(key, &entry);
        }
        std::stable_sort(sorted_.begin(), sorted_.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
    }
    Index(const Index&) = delete;
    Index& operator=(const Index&) = delete;

    // The mount at the longest mount point that is a prefix of the path,
    // `except` left out.
    const Indexed* holder(const std::vector<std::string>& parts, const MountedVolume* except = nullptr) const {
        for (std::size_t n = parts.size() + 1; n-- > 0;) {
            const auto [first, last] =
                byPoint_.equal_range(keyText({parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(n)}));
            const Indexed* found = nullptr;
            for (auto it = first; it != last; ++it)
                if (it->second->mount != except && (!found || it->second < found)) found = it->second;
            if (found) return found;
        }
        return nullptr;
    }

    // The mounts whose points lie strictly below the path, in table order.
    std::vector<const Indexed*> below(const std::vector<std::string>& parts) const {
        const std::string key = keyText(parts);
        std::vector<const Indexed*> found;
        for (auto it = std::lower_bound(sorted_.begin(), sorted_.end(), key,
                                        [](const auto& entry, const std::string& k) { return entry.first < k; });
             it != sorted_.end() && it->first.starts_with(key); ++it)
            if (it->first.size() > key.size()) found.push_back(it->second);
        std::sort(found.begin(), found.end());
        return found;
    }

private:
    std::vector<Indexed> entries_;
    std::unordered_multimap<std::string, const Indexed*> byPoint_;
    std::vector<std::pair<std::string, const Indexed*>> sorted_;
};

std::optional<FileSystemPlaces::Place> placeIn(const Indexed& holder, const std::vector<std::string>& parts) {
    if (holder.mount->fileSystemRoot.empty()) return std::nullopt;
    FileSystemPlaces::Place place{holder.mount, holder.shown};
    place.path.insert(place.path.end(), parts.begin() + static_cast<std::ptrdiff_t>(holder.at.size()), parts.end());
    return place;
}

bool isNetwork(const MountedVolume& mount) { return mount.identity.kind == VolumeKind::network; }

// A share not shown to be another machine's may show any of this
// machine's folders, which the table cannot tell. One of this machine's is
// stacked on the folder it exports as named, which shows an overlap but
// rules none out: the server may name its folders from elsewhere (a
// chrooted sftp account, an NFSv4 pseudo-root, a container's or virtual
// machine's sshd behind a forwarded port).
bool ofUnknownServer(const MountedVolume& mount) { return isNetwork(mount) && !mount.onAnotherMachine; }

// What a tree reaches, the first mount (or the folder itself) whose folders
// could not be placed on the way, and the folders the trees' own evidence
// must place.
struct Reached {
    std::vector<FileSystemPlaces::Place> places;
    std::optional<fs::path> unplaced;
    std::vector<fs::path> lookIn;
};

Reached reachIn(const Index& index, const fs::path& folder, const FileSystemPlaces::Resolve& resolve) {
    Reached reached;
    const auto cannotPlace = [&](const fs::path& where) {
        if (!reached.unplaced) reached.unplaced = where;
    };
    // Where the table cannot place what a mount shows, the one rule: a side
    // lying on it is placed by the markers, looked up at each of its
    // folders, where the mount shows one folder and its lookups answer
    // (MountedVolume::placedByMarkers). The other side's marker
    // found there shows this tree holding the other; this side's marker,
    // placed through the mount, shows the other tree holding this one to
    // its walk. Such a mount met anywhere else (below a side, or where a
    // stack leads) refuses: it may show a folder inside the other side,
    // where neither marker stands.
    const auto unknown = [&](const MountedVolume& mount, const fs::path& at, bool sideOnIt) {
        if (!sideOnIt || !mount.placedByMarkers) return cannotPlace(mount.root);
        if (std::find(reached.lookIn.begin(), reached.lookIn.end(), at) == reached.lookIn.end())
            reached.lookIn.push_back(at);
    };
    // Where a stacked mount's folder or image lies now, links resolved
    // (/home a link to /var/home); nothing for one named relative to where
    // it was mounted from, or one the resolver cannot tell.
    const auto named = [&](const fs::path& name) -> std::optional<fs::path> {
        std::optional<fs::path> now = resolve ? resolve(name) : std::optional<fs::path>(name);
        if (!name.is_absolute() || !now || !now->is_absolute()) return std::nullopt;
        return now;
    };
    std::set<std::pair<std::string, const MountedVolume*>> followed;  // a stack may lead back into itself
    // A stacked mount's folders were found before it was mounted: where one
    // lies is told without the mount itself, which may cover it (a
    // pass-through of a folder at that folder, an overlay over its lower
    // layer). `image`: the device whose image file is being followed.
    const std::function<void(const fs::path&, const MountedVolume*, int, std::uint64_t)> follow =
        [&](const fs::path& start, const MountedVolume* stacked, int depth, std::uint64_t image) {
            const fs::path normal = start.lexically_normal();
            if (depth > deepestStack) return cannotPlace(stacked->root);
            if (!followed.emplace(normal.native(), stacked).second) return;
            const auto parts = PathComponents::of(normal);
            const Indexed* own = index.holder(parts, stacked);
            // What only the stacked mount itself covers lies nowhere else.
            if (!own) return stacked ? void() : cannotPlace(normal);
            const bool sideOnIt = !stacked;
            if (ofUnknownServer(*own->mount)) unknown(*own->mount, normal, sideOnIt);
            // Inside a stacked mount the folder is, below the same names, each
            // folder the mount is stacked on; inside one kept in an image,
            // the image file as a whole.
            for (const fs::path& under : own->mount->stackedOn) {
                std::optional<fs::path> same = named(under);
                if (!same) {
                    unknown(*own->mount, normal, sideOnIt);
                    continue;
                }
                for (auto part = parts.begin() + static_cast<std::ptrdiff_t>(own->at.size()); part != parts.end();
                     ++part)
                    *same /= *part;
                follow(*same, own->mount, depth + 1, image);
            }
            for (const fs::path& file : own->mount->images) {
                if (std::optional<fs::path> at = named(file))
                    follow(*at, own->mount, depth + 1, own->mount->device);
                else
                    cannotPlace(own->mount->root);
            }
            if (std::optional<FileSystemPlaces::Place> place = placeIn(*own, parts)) {
                place->image = image;
                reached.places.push_back(std::move(*place));
            } else {
                cannotPlace(own->mount->root);
            }
            for (const Indexed* entry : index.below(parts)) {
                // A mount showing a folder since deleted keeps files that no
                // path but its own reaches.
                if (!entry->mount->fileSystemRoot.empty())
                    reached.places.push_back({entry->mount, entry->shown, image});
                if (ofUnknownServer(*entry->mount)) cannotPlace(entry->mount->root);
                for (const fs::path& under : entry->mount->stackedOn) {
                    if (std::optional<fs::path> at = named(under))
                        follow(*at, entry->mount, depth + 1, image);
                    else
                        cannotPlace(entry->mount->root);
                }
                for (const fs::path& file : entry->mount->images) {
                    if (std::optional<fs::path> at = named(file))
                        follow(*at, entry->mount, depth + 1, entry->mount->device);
                    else
                        cannotPlace(entry->mount->root);
                }
            }
        };
    follow(folder, nullptr, 0, 0);
    return reached;
}

bool isNetwork(const FileSystemPlaces::Place& place) { return isNetwork(*place.mount); }

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Whether two network places are on one server, told by the addresses
// their shares are mounted from: it keeps both in its own folders, which
// nested exports share.
bool sameServer(const FileSystemPlaces::Place& x, const FileSystemPlaces::Place& y) {
    const std::optional<Url>& u = x.mount->identity.remountURL;
    const std::optional<Url>& v = y.mount->identity.remountURL;
    if (!isNetwork(x) || !isNetwork(y) || !u || !v || u->host().empty()) return false;
    return u->scheme() == v->scheme() && lowered(u->host()) == lowered(v->host());
}

// A place's components as a file system that folds case, or one that does
// not, compares them.
std::vector<std::string> keyOf(const FileSystemPlaces::Place& place, bool foldCase) {
    std::vector<std::string> key = place.path;
    // A share's folders count from the share, which lies at its path on the
    // server.
    if (isNetwork(place) && place.mount->identity.remountURL && !key.empty()) {
        std::vector<std::string> onServer =
            PathComponents::of(fs::path("/") / place.mount->identity.remountURL->path());
        onServer.insert(onServer.end(), key.begin() + 1, key.end());
        key = std::move(onServer);
    }
    if (foldCase)
        for (std::string& name : key) name = folded(name);
    return key;
}

}  // namespace

const MountedVolume* FileSystemPlaces::holder(const std::vector<MountedVolume>& mounts, const fs::path& path) {
    const Index index(mounts);
    const Indexed* found = index.holder(PathComponents::of(path));
    return found ? found->mount : nullptr;
}

std::optional<FileSystemPlaces::Place> FileSystemPlaces::place(const std::vector<MountedVolume>& mounts,
                                                               const fs::path& path) {
    const Index index(mounts);
    const auto parts = PathComponents::of(path);
    const Indexed* found = index.holder(parts);
    return found ? placeIn(*found, parts) : std::nullopt;
}

std::optional<fs::path> FileSystemPlaces::pathThrough(const MountedVolume& mount, const std::vector<std::string>& place) {
    if (mount.fileSystemRoot.empty()) return std::nullopt;
    const auto shown = shownFolder(mount);
    if (!isPrefix(shown, place, foldsCase(mount))) return std::nullopt;
    fs::path path = mount.root;
    for (auto part = place.begin() + static_cast<std::ptrdiff_t>(shown.size()); part != place.end(); ++part) path /= *part;
    return path;
}

std::vector<FileSystemPlaces::Place> FileSystemPlaces::reach(const std::vector<MountedVolume>& mounts,
                                                             const fs::path& folder, const Resolve& resolve) {
    return reachIn(Index(mounts), folder, resolve).places;
}

std::vector<fs::path> FileSystemPlaces::lookups(const std::vector<MountedVolume>& mounts, const fs::path& folder,
                                                const Resolve& resolve) {
    return reachIn(Index(mounts), folder, resolve).lookIn;
}

bool FileSystemPlaces::overlap(const std::vector<MountedVolume>& mounts, const fs::path& a, const fs::path& b,
                               const Resolve& resolve) {
    return compare(mounts, a, b, resolve).kind != Verdict::Case::apart;
}

FileSystemPlaces::Verdict FileSystemPlaces::compare(const std::vector<MountedVolume>& mounts, const fs::path& a,
                                                    const fs::path& b, const Resolve& resolve) {
    const Index index(mounts);
    struct Keyed {
        const Place place;
        const bool folds;
        const std::vector<std::string> key;  // as its file system compares names
    };
    std::optional<fs::path> unplaced;
    const auto keyed = [&](const fs::path& folder) {
        Reached reached = reachIn(index, folder, resolve);
        if (!unplaced) unplaced = std::move(reached.unplaced);
        std::vector<Keyed> out;
        for (Place& place : reached.places) {
            const bool folds = foldsCase(*place.mount);
            std::vector<std::string> key = keyOf(place, folds);
            out.push_back({std::move(place), folds, std::move(key)});
        }
        return out;
    };
    const std::vector<Keyed> reachedA = keyed(a), reachedB = keyed(b);
    const auto nested = [](const std::vector<std::string>& x, const std::vector<std::string>& y) {
        return PathComponents::isPrefix(x, y) || PathComponents::isPrefix(y, x);
    };
    for (const Keyed& x : reachedA)
        for (const Keyed& y : reachedB) {
            // Both in one image: where each lies in its file system decides.
            if (x.place.image != 0 && x.place.image == y.place.image) continue;
            if (isNetwork(x.place) || isNetwork(y.place) ? !sameServer(x.place, y.place)
                                                         : !sameFileSystem(*x.place.mount, *y.place.mount))
                continue;
            if (x.folds == y.folds ? nested(x.key, y.key) : nested(keyOf(x.place, true), keyOf(y.place, true)))
                return {Verdict::Case::overlapping, {}};
        }
    if (unplaced) return {Verdict::Case::unplaced, *unplaced};
    return {};
}

bool FileSystemPlaces::foldsCase(const MountedVolume& mount) {
    return !FileSystemTraits::forVolume(mount.identity).caseSensitive;
}

}  // namespace kelto
