#include "SyncEngine/SpellingAlignment.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/SafeFileSystem.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Uuid.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
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
    throw FileError(error > 0 ? error : EIO, "Could not rename", path);
}

// Renames one item to another spelling of the same name. Linux treats a
// rename between two names of one item as done without doing anything, so a
// case-only change on a case-folding volume is checked in the folder's listing
// and, when it did not take, made through a temporary name.
void renameSameItem(int folder, const std::string& oldName, const std::string& newName,
                    const std::filesystem::path& from) {
    if (::renameat(folder, oldName.c_str(), folder, newName.c_str()) != 0) failRename(errno, from);
    std::vector<std::string> names;
    if (const int error = SafeFileSystem::listNames(folder, names)) failRename(error, from);
    if (std::find(names.begin(), names.end(), newName) != names.end()) return;

    const std::string temporary = ".kelto-rename-" + Uuid::random().lowerString();
    if (const int error = SafeFileSystem::moveWithoutReplacing(folder, oldName, folder, temporary))
        failRename(error, from);
    if (const int error = SafeFileSystem::moveWithoutReplacing(folder, temporary, folder, newName)) {
        SafeFileSystem::moveWithoutReplacing(folder, temporary, folder, oldName);  // best effort: put it back
        failRename(error, from);
    }
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
        const std::filesystem::path from = under(root, oldPath);
        SafeFileSystem::Descriptor top, parent;
        if (const int error = SafeFileSystem::openRoot(root, top)) failRename(error, from);
        const std::vector<std::string> folders(have.begin(), have.begin() + static_cast<std::ptrdiff_t>(i));
        if (const int error = SafeFileSystem::openPath(top.get(), folders, parent, false))
            failRename(error == ENOENT ? EEXIST : error, from);  // gone under both spellings

        struct stat oldInfo {}, newInfo {};
        const bool oldExists = SafeFileSystem::statChild(parent.get(), oldName, oldInfo) == 0;
        const bool newExists = SafeFileSystem::statChild(parent.get(), want[i], newInfo) == 0;
        if (!oldExists && newExists) continue;  // already spelled as wanted
        if (!oldExists) failRename(EEXIST, from);
        if (newExists) {
            // One item under both spellings (a volume that ignores case or
            // normalisation): a plain rename changes the stored spelling.
            if (oldInfo.st_dev != newInfo.st_dev || oldInfo.st_ino != newInfo.st_ino) failRename(EEXIST, from);
            renameSameItem(parent.get(), oldName, want[i], from);
        } else if (const int error = SafeFileSystem::moveWithoutReplacing(parent.get(), oldName, parent.get(), want[i])) {
            failRename(error, from);
        }
    }
}

}  // namespace kelto
