#pragma once

#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace date {
class time_zone;
}

namespace kelto {

// Deletes a job's run folders older than its retention.
struct ArchivePruner {
    // Removes every run folder under the job archive folder dated strictly
    // before the reference minus `retentionDays` calendar days in local time
    // (so a day across a daylight-saving change is still one day). The
    // reference is `now` or the date of the newest other run folder than
    // `ownRun` (the pruning run's), whichever is earlier, so that a clock
    // running ahead does not take the last archives for old. A folder is
    // dated by what the clock can vouch for: its name's date, or, for one
    // that came after an earlier pruning, the newest clock a pruning saw
    // where that is later (a ledger beside the job archive folder keeps both), so that an
    // archive made while the clock was behind is not taken for old. Zero days (the
    // user's clean) removes everything whose name dates it before `now`. An absent
    // retention keeps everything. Children that are not real folders with a
    // run identifier's name are kept. Returns the number removed; throws the
    // first FileError (folders removed before it stay removed).
    static std::int64_t prune(const std::filesystem::path& root, const Uuid& jobID,
                              std::optional<std::int64_t> retentionDays, Date now,
                              const ::date::time_zone* zone = nullptr, std::string_view ownRun = {});

    // `now` minus that many calendar days in the zone; absent when out of range.
    static std::optional<Date> cutOff(Date now, std::int64_t days, const ::date::time_zone& zone);
};

}  // namespace kelto
