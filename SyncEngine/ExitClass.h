#pragma once

#include "SyncEngine/RsyncExit.h"
#include "SyncModel/Support/Json.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelto {

// The few kinds of rsync exit that decide a run's outcome.
enum class ExitClass { success, vanished, partial, cancelled, timeout, noSpace, failed };
template <>
struct EnumNames<ExitClass> {
    static constexpr std::array<std::string_view, 7> names{"success", "vanished", "partial", "cancelled",
                                                           "timeout", "noSpace",  "failed"};
};

// Sorts an exit by rsync's exit codes; 11 and 12 count as a full disk only
// when the tail says so. Never fails.
ExitClass exitClass(std::int32_t code, const std::vector<std::string>& stderrTail);
inline ExitClass exitClass(const RsyncExit& exit) { return exitClass(exit.code, exit.stderrTail); }

}  // namespace kelto
