#pragma once

#include "SyncModel/RunOutcome.h"

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// The fixed English texts of a run and the mapping of rsync exits and errors
// to outcomes. The texts are shown to users and written to run logs as they
// are, so they must not change.
struct RunMessages {
    static constexpr std::string_view jobNotFound = "Job no longer exists";
    static constexpr std::string_view emptySource = "Source is empty \u2014 is the right disk connected?";
    static constexpr std::string_view emptySide =
        "A previously populated side is empty \u2014 is the right disk connected?";
    static constexpr std::string_view insufficientSpace = "Insufficient destination free space";
    // rsync exit 25: the deletion limit hit because the source changed since the plan.
    static constexpr std::string_view inventoryChanged =
        "Source or deletion inventory changed \u2014 preview and run again";
    static constexpr std::string_view networkTimeout = "Network timeout";
    static constexpr std::string_view destinationFull = "Destination full";
    // Each followed by the root's path, ": " and the error's description.
    static constexpr std::string_view pruneFailedPrefix = "Could not prune archives at ";
    static constexpr std::string_view ejectFailedPrefix = "Could not eject ";
    // Another process holds the job's lock: its run is left alone.
    static constexpr std::string_view jobBusyElsewhere = "This job is already running in another Kelto Sync process";
    // Followed by the error's description.
    static constexpr std::string_view historyFailedPrefix = "Could not save run history: ";

    // rsync's code for "stopped at the deletion limit".
    static constexpr std::int32_t inventoryChangedCode = 25;

    // The text between double quotes, with \ before " ' and \, \n \r \t \0
    // for those controls, \u{hex} for the other non-printable ASCII
    // characters, and every other byte (UTF-8 sequences whole) as it is.
    static std::string quoted(std::string_view text);

    // The outcome as the run log's outcome line shows it, e.g.
    // failed("Destination full") or skipped(SyncModel.SkipReason.onBattery).
    static std::string outcomeDescription(const RunOutcome& outcome);

    // The outcome of a finished rsync transfer. `skippedFiles`: the run left
    // files out, which turns a clean exit into one with warnings.
    static RunOutcome exitOutcome(std::int32_t code, const std::vector<std::string>& stderrTail, bool skippedFiles);

    // The outcome of an error (never null) that ended a run's work.
    // `cancelled`: the run's stop was requested.
    static RunOutcome errorOutcome(const std::exception_ptr& error, bool cancelled);

    // The error as the run log's error line shows it: the engines' scan
    // failures as "scanFailed(code: N, stderr: [...])" with the last lines
    // quoted, every other error by what().
    static std::string plainDescription(const std::exception_ptr& error);
};

}  // namespace kelto
