#pragma once

#include "SyncEngine/GuardVerdict.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/Side.h"
#include "SyncEngine/SideCounts.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncEngine/TwoWayPlan.h"
#include "SyncModel/Support/Json.h"

#include <cstdint>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// The pieces of kelto-run-job's JSON output. Paths go in as they are; print()
// shows bytes that are not UTF-8 as U+FFFD.
struct RunJobReport {
    static Json verdict(const GuardVerdict& verdict);

    // What the guard was given besides the plan.
    static Json guardInput(const std::optional<SideCounts>& previousCounts,
                           const std::map<Side, std::int64_t>& freeSpace);

    // The plan's sizes; with `twoWay`, those of its directions too.
    static Json planCounts(const SyncPlan& plan, const TwoWayPlan* twoWay);

    // The plan's copies (path, size, to), archives (path, on), skipped files
    // (path, reason) and, with `twoWay`, its conflicts (path, resolution).
    static Json planLists(const SyncPlan& plan, const TwoWayPlan* twoWay);

    static Json exit(std::int32_t code, const std::vector<std::string>& stderrTail);

    // The exception, as the "error" member: its type, case and message, and
    // for a failed scan the exit code and the tail of rsync's standard error.
    static Json error(std::exception_ptr failure);

    // One line on standard output.
    static void print(const Json& out);
};

}  // namespace kelto
