#include "SyncEngine/FileSystemTraits.h"

#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>

namespace kelto {

FileSystemTraits FileSystemTraits::forVolume(const VolumeIdentity& volume) {
    const FileSystemCapabilities disk = FileSystemCapabilities::forType(volume.fileSystem);
    FileSystemTraits traits;
    traits.fileSystem = disk.type;
    // The file systems of this system's own kind keep permissions (and most
    // extended attributes) and store exact modification times; everything
    // else gets a one-second window.
    traits.preservesPermissions = disk.permissions;
    traits.preservesXattrs = disk.extendedAttributes;
    traits.modifyWindow = disk.permissions ? 0 : 1;
    // A disk that folds case does so whatever the volume reports.
    traits.caseSensitive = disk.foldsCase ? false : volume.caseSensitive;
    traits.maxFileSize = disk.maxFileSize;
    traits.names = disk.names;
    // Older stored identities name an SMB share, the one kind of share that
    // folds case, by its type alone.
    traits.isNetwork = volume.kind == VolumeKind::network || (disk.network && disk.foldsCase);
    return traits;
}

FileSystemTraits FileSystemTraits::forTransfer(FileSystemTraits destination,
                                               const std::vector<FileSystemCapabilities>& disks) {
    destination.preservesXattrs =
        destination.preservesXattrs && !disks.empty() &&
        std::all_of(disks.begin(), disks.end(), [](const FileSystemCapabilities& disk) { return disk.extendedAttributes; });
    return destination;
}

FileSystemTraits FileSystemTraits::forTransfer(const FileSystemTraits& destination, const std::filesystem::path& sourceFolder,
                                               const std::filesystem::path& destinationFolder) {
    std::vector<FileSystemCapabilities> disks = FileSystemCapabilities::reachedFrom(sourceFolder);
    const std::vector<FileSystemCapabilities> written = FileSystemCapabilities::reachedFrom(destinationFolder);
    disks.insert(disks.end(), written.begin(), written.end());
    return forTransfer(destination, disks);
}

namespace {

FileSystemTraits::Landing landingOn(const FileSystemCapabilities& disk) {
    return {disk.names, disk.maxFileSize, !disk.foldsCase};
}

std::vector<std::string_view> componentsOf(std::string_view path) {
    std::vector<std::string_view> out;
    for (std::size_t start = 0; start < path.size();) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start && path.substr(start, end - start) != ".") out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Whether a name reaches the entry named so, in a folder that folds case or not.
bool reaches(std::string_view name, std::string_view entry, bool foldsCase) {
    if (name == entry) return true;
    return foldsCase ? Unicode::caseFolded(name) == Unicode::caseFolded(entry)
                     : Unicode::canonicallyEqual(name, entry);
}

}  // namespace

FileSystemTraits FileSystemTraits::withDisksBelow(
    const std::optional<std::vector<FileSystemCapabilities::Mounted>>& below) const {
    FileSystemTraits traits = *this;
    traits.disksBelow.clear();
    if (!below) {
        // Unseen disks may be any: the strictest names, and case folded.
        traits.disksBelow.push_back({{}, {FileSystemCapabilities::Names::windowsAndDevices, maxFileSize, false}});
        return traits;
    }
    for (const FileSystemCapabilities::Mounted& mounted : *below) {
        DiskBelow disk{{}, landingOn(mounted.disk)};
        for (const std::string_view part : componentsOf(mounted.at)) disk.at.emplace_back(part);
        traits.disksBelow.push_back(std::move(disk));
    }
    // Shallow first; at one place the later mount is the one shown.
    std::stable_sort(traits.disksBelow.begin(), traits.disksBelow.end(),
                     [](const DiskBelow& x, const DiskBelow& y) { return x.at.size() < y.at.size(); });
    return traits;
}

FileSystemTraits FileSystemTraits::withDisksBelow(const std::filesystem::path& folder) const {
    return withDisksBelow(FileSystemCapabilities::mountedBelow(folder));
}

FileSystemTraits::Landing FileSystemTraits::landingIn(std::string_view folder) const {
    const Landing own{names, maxFileSize, caseSensitive};
    if (disksBelow.empty()) return own;
    const std::vector<std::string_view> parts = componentsOf(folder);
    // The disks on the way down, by the depth of their place: each name
    // on the way is looked up in the folder of the one above it.
    std::vector<std::pair<std::size_t, Landing>> onTheWay{{0, own}};
    const auto foldsAt = [&](std::size_t depth) {
        for (auto it = onTheWay.rbegin(); it != onTheWay.rend(); ++it)
            if (it->first <= depth) return !it->second.caseSensitive;
        return !caseSensitive;
    };
    for (const DiskBelow& disk : disksBelow) {
        if (disk.at.size() > parts.size()) break;
        bool holds = true;
        for (std::size_t i = 0; holds && i < disk.at.size(); ++i) holds = reaches(parts[i], disk.at[i], foldsAt(i));
        if (!holds) continue;
        if (onTheWay.back().first == disk.at.size()) onTheWay.pop_back();
        onTheWay.emplace_back(disk.at.size(), disk.landing);
    }
    return onTheWay.back().second;
}

bool FileSystemTraits::takesEverything() const {
    const auto takes = [](const Landing& landing) {
        return landing.caseSensitive && !landing.maxFileSize && landing.names == FileSystemCapabilities::Names::any;
    };
    return takes({names, maxFileSize, caseSensitive}) &&
           std::all_of(disksBelow.begin(), disksBelow.end(), [&](const DiskBelow& disk) { return takes(disk.landing); });
}

bool FileSystemTraits::foldsCaseSomewhere() const {
    return !caseSensitive || std::any_of(disksBelow.begin(), disksBelow.end(),
                                         [](const DiskBelow& disk) { return !disk.landing.caseSensitive; });
}

}  // namespace kelto
