#pragma once

#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Uuid.h"

#include <filesystem>
#include <map>

namespace kelto {

// When the scheduler first met each job, kept in the support folder so that
// an interval without a recorded run counts from that moment across restarts
// of the application instead of from each start. No lock: reads and writes
// may come from any thread but must not overlap.
class IntervalAnchorStore {
public:
    static constexpr const char* fileName = "interval-anchors.json";

    explicit IntervalAnchorStore(const std::filesystem::path& supportDirectory)
        : file(supportDirectory / fileName) {}

    const std::filesystem::path file;

    // The stored anchors; empty when the file is missing, unreadable or
    // damaged: a lost anchor only delays a first interval run.
    std::map<Uuid, Date> load() const;

    // Replaces the file whole and atomically, making its folder. Throws
    // FileError.
    void save(const std::map<Uuid, Date>& anchors) const;
};

}  // namespace kelto
