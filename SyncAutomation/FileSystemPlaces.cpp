#include "SyncAutomation/FileSystemPlaces.h"

#include "SyncEngine/FileSystemTraits.h"
#include "SyncModel/Support/PathComponents.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <functional>
#include <set>

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

bool sameFileSystem(const MountedVolume& a, const MountedVolume& b) {
    if (a.device == 0 || a.device != b.device) return false;
    // A network client may serve several shares from one file system, each
    // counting its folders from its own: only one share's compare.
    if (a.identity.kind == VolumeKind::network || b.identity.kind == VolumeKind::network)
        return a.identity.matches(b.identity);
    return true;
}

}  // namespace

const MountedVolume* FileSystemPlaces::holder(const std::vector<MountedVolume>& mounts, const fs::path& path) {
    const auto parts = PathComponents::of(path);
    const MountedVolume* best = nullptr;
    std::size_t bestLength = 0;
    for (const MountedVolume& mount : mounts) {
        const auto at = PathComponents::of(mount.root);
        if (!PathComponents::isPrefix(at, parts)) continue;
        if (!best || mount.root.native().size() > bestLength) {
            best = &mount;
            bestLength = mount.root.native().size();
        }
    }
    return best;
}

std::optional<FileSystemPlaces::Place> FileSystemPlaces::place(const std::vector<MountedVolume>& mounts,
                                                               const fs::path& path) {
    const MountedVolume* mount = holder(mounts, path);
    if (!mount || mount->fileSystemRoot.empty()) return std::nullopt;
    const auto parts = PathComponents::of(path);
    Place place{mount, shownFolder(*mount)};
    place.path.insert(place.path.end(), parts.begin() + static_cast<std::ptrdiff_t>(PathComponents::of(mount->root).size()),
                      parts.end());
    return place;
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
                                                             const fs::path& folder) {
    std::vector<Place> places;
    std::set<std::string> followed;  // a stack may lead back into itself
    const std::function<void(const fs::path&, int)> follow = [&](const fs::path& start, int depth) {
        const fs::path normal = start.lexically_normal();
        if (depth > deepestStack || !followed.insert(normal.native()).second) return;
        const auto parts = PathComponents::of(normal);
        if (std::optional<Place> own = place(mounts, normal)) {
            // Inside a stacked mount the folder is, below the same names,
            // each folder the mount is stacked on.
            const auto mountedAt = PathComponents::of(own->mount->root);
            for (const fs::path& under : own->mount->stackedOn) {
                fs::path same = under;
                for (auto part = parts.begin() + static_cast<std::ptrdiff_t>(mountedAt.size()); part != parts.end(); ++part)
                    same /= *part;
                follow(same, depth + 1);
            }
            places.push_back(std::move(*own));
        }
        for (const MountedVolume& mount : mounts) {
            const auto at = PathComponents::of(mount.root);
            if (at.size() <= parts.size() || !PathComponents::isPrefix(parts, at)) continue;
            if (!mount.fileSystemRoot.empty()) places.push_back({&mount, shownFolder(mount)});
            for (const fs::path& under : mount.stackedOn) follow(under, depth + 1);
        }
    };
    follow(folder, 0);
    return places;
}

bool FileSystemPlaces::overlap(const std::vector<MountedVolume>& mounts, const fs::path& a, const fs::path& b) {
    const std::vector<Place> reachedA = reach(mounts, a), reachedB = reach(mounts, b);
    for (const Place& x : reachedA)
        for (const Place& y : reachedB) {
            if (!sameFileSystem(*x.mount, *y.mount)) continue;
            const bool fold = foldsCase(*x.mount) || foldsCase(*y.mount);
            if (isPrefix(x.path, y.path, fold) || isPrefix(y.path, x.path, fold)) return true;
        }
    return false;
}

bool FileSystemPlaces::foldsCase(const MountedVolume& mount) {
    return !FileSystemTraits::forVolume(mount.identity).caseSensitive;
}

}  // namespace kelto
