#pragma once

#include "SyncEngine/Side.h"
#include "SyncEngine/TwoWayPlanner.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_map>

namespace kelto {

// What the file system of one synchronised folder keeps of a modification
// time it is given, learnt by setting the time on a scratch file in the
// folder's reserved temporary folder. That folder is never made here: until
// a run has made it, every answer is unknown. Each time is tried once. For
// one thread.
class TimeProbe {
public:
    explicit TimeProbe(std::filesystem::path root) : root_(std::move(root)) {}

    // The time kept for `seconds`: itself, or another one where the file
    // system clamps it into the range it can hold; nullopt when unknown.
    std::optional<std::int64_t> kept(std::int64_t seconds);

    // Whether, told `intended`, the file system keeps a time within `window`
    // seconds of `held`; false when unknown.
    bool keepsAs(std::int64_t intended, std::int64_t held, std::int64_t window);

    // Times every file system in use keeps as they are (1980 to 2038, with a
    // day to spare for file systems that keep local time): no need to try.
    static bool keptEverywhere(std::int64_t seconds);

    // The planner's view of both sides; the probes must outlive it.
    static TwoWayPlanner::KeptTime keptOnSides(TimeProbe& a, TimeProbe& b) {
        return [&a, &b](Side side, std::int64_t seconds) { return (side == Side::a ? a : b).kept(seconds); };
    }

private:
    bool open();

    std::filesystem::path root_;
    bool tried_ = false;
    FileDescriptor file_;
    std::filesystem::path filePath_;
    std::unordered_map<std::int64_t, std::optional<std::int64_t>> answers_;
};

}  // namespace kelto
