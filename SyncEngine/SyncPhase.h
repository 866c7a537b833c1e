#pragma once

#include "SyncModel/Support/Json.h"

namespace kelto {

// What a run is doing. The views localise a phase under "phase." + its word.
enum class SyncPhase { queued, resolving, scanning, planning, awaitingConfirmation, transferring, archiving, finalizing };
template <>
struct EnumNames<SyncPhase> {
    static constexpr std::array<std::string_view, 8> names{
        "queued", "resolving", "scanning", "planning", "awaitingConfirmation", "transferring", "archiving", "finalizing"};
};

}  // namespace kelto
