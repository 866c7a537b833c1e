#include "SyncEngine/internal/TimeProbe.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <algorithm>

namespace kelto {

bool TimeProbe::keptEverywhere(std::int64_t seconds) {
    constexpr std::int64_t day = 86'400;
    constexpr std::int64_t from1980 = 315'532'800 + day;
    constexpr std::int64_t to2038 = 2'147'483'647 - day;
    return seconds >= from1980 && seconds <= to2038;
}

bool TimeProbe::open() {
    if (tried_) return file_.valid();
    tried_ = true;
    try {
        const std::optional<SafeFileSystem::Folder> root = SafeFileSystem::openRoot(root_);
        if (!root) return false;
        const std::optional<SafeFileSystem::Folder> scratch = SafeFileSystem::openPath(
            *root, {std::string(ArchiveDirectories::reservedName), std::string(ArchiveDirectories::temporaryName)});
        if (!scratch) return false;
        file_ = SafeFileSystem::makeScratchFile(*scratch, filePath_);
    } catch (const FileError&) {
        // A read-only volume, no permission: nothing can be learnt.
    }
    return file_.valid();
}

bool TimeProbe::keepsAs(std::int64_t intended, std::int64_t held, std::int64_t window) {
    const std::optional<std::int64_t> time = kept(intended);
    if (!time) return false;
    // |time - held| <= window without overflow.
    const auto x = static_cast<std::uint64_t>(*time), y = static_cast<std::uint64_t>(held);
    return (*time >= held ? x - y : y - x) <= static_cast<std::uint64_t>(std::max<std::int64_t>(window, 0));
}

std::optional<std::int64_t> TimeProbe::kept(std::int64_t seconds) {
    if (keptEverywhere(seconds)) return seconds;
    if (const auto known = answers_.find(seconds); known != answers_.end()) return known->second;
    std::optional<std::int64_t> answer;
    if (open()) {
        try {
            answer = SafeFileSystem::keptModificationTime(file_, seconds, filePath_);
        } catch (const FileError&) {
            // unknown
        }
    }
    answers_.emplace(seconds, answer);
    return answer;
}

}  // namespace kelto
