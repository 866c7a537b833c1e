#pragma once

#include "SyncEngine/TwoWayPlanner.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace kelto {

// Whether an item on side A and one on side B hold the same, each reached
// below its side's root (a run's held folder) without following a link on
// the way: two files whose bytes agree, read to the end, or two links whose
// targets do. Times tell nothing here: two writes within one kernel tick
// stamp one time to the nanosecond. What cannot be found, opened or read
// is not the same.
class ContentCheck {
public:
    ContentCheck(std::filesystem::path rootA, std::filesystem::path rootB, std::stop_token stop = {});

    // Throws CancellationError once the stop is requested.
    bool same(std::string_view pathOnA, std::string_view pathOnB);

    // same(), as the planner asks it; the check must outlive it.
    TwoWayPlanner::SameContents asked();

private:
    struct Item {
        SafeFileSystem::Folder parent;
        std::string name;
        struct stat info;
    };

    // The item at `path` on side 0 (A) or 1 (B), as an lstat shows it.
    std::optional<Item> find(int side, std::string_view path);
    bool sameBytes(const Item& a, const Item& b) const;

    std::filesystem::path roots_[2];
    std::optional<SafeFileSystem::Folder> folders_[2];  // opened at the first question
    std::stop_token stop_;
};

}  // namespace kelto
