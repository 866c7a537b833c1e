#pragma once

#include "SyncModel/Support/Json.h"

#include <string>
#include <variant>

namespace kelto {

enum class SkipReason { deviceNotConnected, folderMissing, identityMismatch, onBattery };
template <>
struct EnumNames<SkipReason> {
    static constexpr std::array<std::string_view, 4> names{"deviceNotConnected", "folderMissing", "identityMismatch",
                                                          "onBattery"};
};

// How a run ended.
struct RunOutcome {
    enum class Case { success, completedWithWarnings, completedWithErrors, failed, cancelled, interrupted, skipped, needsReview };

    Case kind = Case::success;
    std::string message;                           // failed and needsReview
    SkipReason skipReason = SkipReason::deviceNotConnected;  // skipped

    static RunOutcome success() { return RunOutcome{Case::success, {}, {}}; }
    static RunOutcome completedWithWarnings() { return RunOutcome{Case::completedWithWarnings, {}, {}}; }
    static RunOutcome completedWithErrors() { return RunOutcome{Case::completedWithErrors, {}, {}}; }
    static RunOutcome failed(std::string reason) { return RunOutcome{Case::failed, std::move(reason), {}}; }
    static RunOutcome cancelled() { return RunOutcome{Case::cancelled, {}, {}}; }
    static RunOutcome interrupted() { return RunOutcome{Case::interrupted, {}, {}}; }
    static RunOutcome skipped(SkipReason reason) { return RunOutcome{Case::skipped, {}, reason}; }
    static RunOutcome needsReview(std::string message) { return RunOutcome{Case::needsReview, std::move(message), {}}; }

    // Same case and, where the case has one, the same payload (strings exactly).
    friend bool operator==(const RunOutcome& a, const RunOutcome& b);
};

template <>
struct EnumNames<RunOutcome::Case> {
    static constexpr std::array<std::string_view, 8> names{"success",   "completedWithWarnings", "completedWithErrors",
                                                          "failed",    "cancelled",             "interrupted",
                                                          "skipped",   "needsReview"};
};

template <>
struct JsonCodec<RunOutcome> {
    static Json encode(const RunOutcome& value);
    static RunOutcome decode(const JsonIn& in);
};

}  // namespace kelto
