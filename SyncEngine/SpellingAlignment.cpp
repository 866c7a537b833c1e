#include "SyncEngine/SpellingAlignment.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <cerrno>
#include <optional>
#include <system_error>
#include <string>
#include <vector>

namespace kelto {

namespace {

std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

std::filesystem::path under(const std::filesystem::path& root, std::string_view relative) {
    std::string out = root.string();
    out += '/';
    out += relative;
    return out;
}

[[noreturn]] void failRename(int error, const std::filesystem::path& path) {
    throw FileError(error, "Could not rename", path);
}

}  // namespace

void SpellingAlignment::align(std::string_view desired, std::string_view actual, const std::filesystem::path& root) {
    const std::vector<std::string> want = components(desired);
    std::vector<std::string> have = components(actual);
    if (want.size() != have.size()) throw TwoWayEngineError::unsafePath(std::string(actual));

    for (std::size_t i = 0; i < want.size(); ++i) {
        if (have[i] == want[i]) continue;  // bytes, so case and normalisation count
        const std::string oldPath = joined(have, i + 1);
        const std::string oldName = have[i];
        have[i] = want[i];
        const std::string newPath = joined(have, i + 1);
        if (!ArchiveDirectories::isSafeRelativePath(oldPath, root, false) ||
            !ArchiveDirectories::isSafeRelativePath(newPath, root, false))
            throw TwoWayEngineError::unsafePath(oldPath);

        // Both names are looked at and renamed inside their folder, reached
        // without following a link, so a folder swapped for a link meanwhile
        // is refused rather than walked through.
        const std::optional<SafeFileSystem::Folder> top = SafeFileSystem::openRoot(root);
        if (!top) failRename(ENOENT, under(root, oldPath));
        const std::vector<std::string> folders(have.begin(), have.begin() + static_cast<std::ptrdiff_t>(i));
        const std::optional<SafeFileSystem::Folder> parent = SafeFileSystem::openPath(*top, folders);
        if (!parent) failRename(EEXIST, under(root, oldPath));  // gone under both spellings

        if (!SafeFileSystem::statChild(*parent, oldName)) {
            if (SafeFileSystem::statChild(*parent, want[i])) continue;  // already spelled as wanted
            failRename(EEXIST, under(root, oldPath));
        }
        // A new name already taken must reach this same item (a volume that
        // ignores case or normalisation): another item is never replaced.
        SafeFileSystem::changeSpelling(*parent, oldName, want[i]);
    }
}

std::optional<bool> SpellingAlignment::reachesSameItem(std::string_view other, std::string_view actual,
                                                       const std::filesystem::path& root) {
    std::vector<std::string> want = components(other);
    const std::vector<std::string> have = components(actual);
    if (want.empty() || want.size() != have.size()) return false;
    try {
        const std::optional<SafeFileSystem::Folder> top = SafeFileSystem::openRoot(root);
        if (!top) return false;
        const std::string name = std::move(want.back());
        want.pop_back();
        const std::optional<SafeFileSystem::Folder> parent = SafeFileSystem::openPath(*top, want);
        if (!parent) return false;
        return SafeFileSystem::isOneItemIfKnown(*parent, have.back(), name);
    } catch (const FileError&) {
        return false;
    }
}

std::string SpellingAlignment::failure(std::string_view desired, const std::exception& error) {
    const auto* system = dynamic_cast<const std::system_error*>(&error);
    return std::string(failedLine) + std::string(desired) + ": " + (system ? system->code().message() : error.what());
}

}  // namespace kelto
