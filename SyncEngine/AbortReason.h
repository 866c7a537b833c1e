#pragma once

#include "SyncModel/Support/Json.h"

namespace kelto {

// Why the safety guard refused a plan.
enum class AbortReason { emptySource, emptySide, insufficientSpace };
template <>
struct EnumNames<AbortReason> {
    static constexpr std::array<std::string_view, 3> names{"emptySource", "emptySide", "insufficientSpace"};
};

}  // namespace kelto
