#pragma once

#include "SyncEngine/TwoWayPlanner.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string_view>

namespace kelto {

// Whether a file on side A and one on side B hold the same, each reached
// below its side's root (a run's held folder) without following a link on
// the way. Two files of one size are the same unread where both file
// systems stamp in nanoseconds and the times agree to the nanosecond (a
// fraction of zero is a whole second set from elsewhere, which tells
// nothing); others are read and compared. What cannot be found, opened or
// read is not the same.
class ContentCheck {
public:
    ContentCheck(std::filesystem::path rootA, std::filesystem::path rootB, std::stop_token stop = {});

    // Throws CancellationError once the stop is requested.
    bool same(std::string_view pathOnA, std::string_view pathOnB);

    // same(), as the planner asks it; the check must outlive it.
    TwoWayPlanner::SameContents asked();

private:
    std::optional<FileDescriptor> open(int side, std::string_view path);
    bool sameBytes(int fileA, int fileB) const;

    std::filesystem::path roots_[2];
    std::optional<SafeFileSystem::Folder> folders_[2];  // opened at the first question
    std::stop_token stop_;
};

}  // namespace kelto
