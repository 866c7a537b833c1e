#pragma once

#include "SyncEngine/AbortReason.h"

#include <string>

namespace kelto {

// The safety guard's answer about a plan.
struct GuardVerdict {
    enum class Case { needsConfirmation, abort, proceed };

    Case kind = Case::proceed;
    std::string message;                           // needsConfirmation: the user-facing reason
    AbortReason reason = AbortReason::emptySource;  // abort

    static GuardVerdict needsConfirmation(std::string message) { return GuardVerdict{Case::needsConfirmation, std::move(message), {}}; }
    static GuardVerdict abort(AbortReason reason) { return GuardVerdict{Case::abort, {}, reason}; }
    static GuardVerdict proceed() { return GuardVerdict{Case::proceed, {}, {}}; }

    // Same case and, where the case has one, the same payload.
    friend bool operator==(const GuardVerdict& a, const GuardVerdict& b);
};

template <>
struct EnumNames<GuardVerdict::Case> {
    static constexpr std::array<std::string_view, 3> names{"needsConfirmation", "abort", "proceed"};
};

}  // namespace kelto
