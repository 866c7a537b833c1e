#include "SyncEngine/SpellingAlignment.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/PathKey.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncEngine/internal/OneWayLines.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <system_error>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kelto {

using namespace OneWayLines;

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

// Names as the disk they lie on compares them: by case and normalisation
// where it folds them, by their bytes where it tells them apart.
std::string foldedKey(const FileSystemTraits& traits, std::string_view path) {
    if (traits.disksBelow.empty())
        return traits.caseSensitive ? std::string(path) : Unicode::caseFolded(PathKey::of(path));
    std::string key, folder;
    for (const std::string& name : components(path)) {
        if (!key.empty()) key += '/';
        key += traits.landingIn(folder).caseSensitive ? name : Unicode::caseFolded(PathKey::of(name));
        if (!folder.empty()) folder += '/';
        folder += name;
    }
    return key;
}

std::string_view lastComponent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
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

SpellingAlignment::Aligned SpellingAlignment::alignAll(const std::vector<PlannedRename>& renames,
                                                       const std::filesystem::path& root) {
    Aligned aligned;
    std::vector<std::string> failed;
    for (const PlannedRename& rename : renames) {
        const bool below = std::any_of(failed.begin(), failed.end(), [&](const std::string& folder) {
            return rename.to.starts_with(folder) && rename.to[folder.size()] == '/';
        });
        if (below) continue;
        try {
            align(rename.to, rename.from, root);
        } catch (const std::exception& error) {
            aligned.failures.push_back(failure(rename.to, error));
            failed.push_back(rename.to);
            aligned.keptOut.push_back(SkippedFile{rename.to, FileSkipReason::caseCollision});
            aligned.keptOut.push_back(SkippedFile{rename.from, FileSkipReason::caseCollision});
        }
    }
    return aligned;
}

std::vector<PlannedRename> SpellingAlignment::respellings(const std::vector<ItemizedChange>& look,
                                                         const std::filesystem::path& destination,
                                                         const FileSystemTraits& traits,
                                                         std::vector<SkippedFile>& unsure) {
    std::vector<PlannedRename> renames;
    if (!traits.foldsCaseSomewhere() || std::none_of(look.begin(), look.end(), isDeletion)) return renames;
    std::unordered_map<std::string, std::string> spelledByA;  // empty where A spells a key twice
    for (const ItemizedChange& line : look) {
        if (isDeletion(line) || isRoot(line) || line.path == "./" || isReserved(line)) continue;
        std::string path = withoutTrailingSlash(line.path);
        const auto [entry, added] = spelledByA.try_emplace(foldedKey(traits, path), path);
        if (!added && entry->second != path) entry->second.clear();
    }
    std::unordered_set<std::string> renamed;
    for (const ItemizedChange& line : look) {
        if (!isDeletion(line) || isReserved(line)) continue;
        const std::string path = withoutTrailingSlash(line.path);
        std::string key = foldedKey(traits, path);
        const auto a = spelledByA.find(key);
        if (a == spelledByA.end() || a->second.empty() || renamed.contains(key)) continue;
        const std::string_view name = lastComponent(path);
        if (name == lastComponent(a->second)) continue;  // only a folder on the way is spelled otherwise
        const std::optional<bool> same = reachesSameItem(a->second, path, destination);
        if (!same) {
            unsure.push_back(SkippedFile{a->second, FileSkipReason::caseCollision});
            unsure.push_back(SkippedFile{path, FileSkipReason::caseCollision});
            continue;
        }
        if (!*same) continue;
        renamed.insert(std::move(key));
        const std::size_t slash = a->second.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : a->second.substr(0, slash + 1);
        renames.push_back(PlannedRename{parent + std::string(name), a->second});
    }
    std::stable_sort(renames.begin(), renames.end(), [](const PlannedRename& x, const PlannedRename& y) {
        return std::count(x.to.begin(), x.to.end(), '/') < std::count(y.to.begin(), y.to.end(), '/');
    });
    return renames;
}

std::vector<SkippedFile> SpellingAlignment::otherSpellingsOnB(const std::vector<SkippedFile>& keptOut,
                                                              const std::vector<ItemizedChange>& look,
                                                              const FileSystemTraits& traits) {
    std::vector<SkippedFile> result;
    if (!traits.foldsCaseSomewhere() || keptOut.empty()) return result;
    std::unordered_map<std::string, FileSkipReason> keys;
    std::unordered_set<std::string> spelled;
    for (const SkippedFile& file : keptOut) {
        const std::string path = withoutTrailingSlash(file.path);
        keys.try_emplace(foldedKey(traits, path), file.reason);
        spelled.insert(path);
    }
    for (const ItemizedChange& line : look) {
        if (!isDeletion(line) || isReserved(line)) continue;
        const std::string path = withoutTrailingSlash(line.path);
        if (spelled.contains(path)) continue;
        const std::string key = foldedKey(traits, path);
        for (std::size_t end = key.find('/'); ; end = key.find('/', end + 1)) {
            const auto found = keys.find(end == std::string::npos ? key : key.substr(0, end));
            if (found != keys.end()) {
                result.push_back(SkippedFile{path, found->second});
                break;
            }
            if (end == std::string::npos) break;
        }
    }
    return result;
}

std::optional<std::vector<ItemizedChange>> SpellingAlignment::respelled(const std::vector<ItemizedChange>& look,
                                                                        const std::vector<PlannedRename>& renames) {
    if (renames.empty()) return std::nullopt;
    std::unordered_map<std::string, std::string_view> newName;  // by the spelling renamed, parents respelled
    for (const PlannedRename& rename : renames) newName.emplace(rename.from, lastComponent(rename.to));
    std::unordered_set<std::string> onA;
    for (const ItemizedChange& line : look)
        if (!isDeletion(line)) onA.insert(withoutTrailingSlash(line.path));

    std::vector<ItemizedChange> result;
    std::unordered_set<std::string> deleted;
    for (const ItemizedChange& line : look) {
        if (!isDeletion(line)) {
            result.push_back(line);
            continue;
        }
        const std::string path = withoutTrailingSlash(line.path);
        std::string spelled;
        for (std::size_t start = 0; start <= path.size();) {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos) end = path.size();
            if (start > 0) spelled += '/';
            const std::size_t at = spelled.size();
            spelled += std::string_view(path).substr(start, end - start);
            if (const auto renamed = newName.find(spelled); renamed != newName.end())
                spelled.replace(at, std::string::npos, renamed->second);
            start = end + 1;
        }
        if (onA.contains(spelled) || !deleted.insert(spelled).second) continue;
        ItemizedChange kept = line;
        kept.path = spelled + (line.path.ends_with('/') ? "/" : "");
        result.push_back(std::move(kept));
    }
    return result;
}

}  // namespace kelto
