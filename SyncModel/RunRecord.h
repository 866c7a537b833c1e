#pragma once

#include "SyncModel/RunOutcome.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Uuid.h"

#include <optional>
#include <string>

namespace kelto {

enum class RunTrigger { manual, connect, schedule, catchUp };
template <>
struct EnumNames<RunTrigger> {
    static constexpr std::array<std::string_view, 4> names{"manual", "connect", "schedule", "catchUp"};
};

// One finished run of a job.
struct RunRecord {
    Uuid id;
    Uuid jobID;
    RunTrigger trigger = RunTrigger::manual;
    Date startedAt;
    Date endedAt;
    RunOutcome outcome;
    RunStats stats;
    std::optional<std::string> logPath;

    friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

template <>
struct JsonCodec<RunRecord> {
    static Json encode(const RunRecord& value);
    static RunRecord decode(const JsonIn& in);
};

}  // namespace kelto
