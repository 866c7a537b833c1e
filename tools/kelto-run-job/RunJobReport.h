#pragma once

#include "SyncEngine/SyncPlan.h"
#include "SyncModel/RunOutcome.h"
#include "SyncModel/Support/Json.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace kelto {

// The pieces of kelto-run-job's JSON output. Paths go in as they are; print()
// shows bytes that are not UTF-8 as U+FFFD.
struct RunJobReport {
    // "outcome": the outcome's case word, with "message" for failed and
    // needsReview and "reason" for skipped.
    static void outcome(const RunOutcome& outcome, Json& out);

    // The plan's sizes.
    static Json planCounts(const SyncPlan& plan);

    // The plan's copies (path, size, to), archives (path, on), skipped files
    // (path, reason) and conflicts (paths).
    static Json planLists(const SyncPlan& plan);

    static Json exit(std::int32_t code, const std::vector<std::string>& stderrTail);

    // The exception, as the "error" member: its type, case and message, and
    // for a failed scan the exit code and the tail of rsync's standard error.
    static Json error(std::exception_ptr failure);

    // One line on standard output.
    static void print(const Json& out);
};

}  // namespace kelto
