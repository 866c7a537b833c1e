#pragma once

#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace date {
class time_zone;
}

namespace kelto {

// Deletes a job's run folders older than its retention.
struct ArchivePruner {
    // Removes every run folder under the job archive folder dated strictly
    // before `now` minus `retentionDays` calendar days in local time (so a day
    // across a daylight-saving change is still one day). An absent retention
    // keeps everything. Children that are not real folders with a run
    // identifier's name are kept. Returns the number removed; throws the first
    // FileError (folders removed before it stay removed).
    static std::int64_t prune(const std::filesystem::path& root, const Uuid& jobID,
                              std::optional<std::int64_t> retentionDays, Date now,
                              const ::date::time_zone* zone = nullptr);

    // `now` minus that many calendar days in the zone; absent when out of range.
    static std::optional<Date> cutOff(Date now, std::int64_t days, const ::date::time_zone& zone);
};

}  // namespace kelto
