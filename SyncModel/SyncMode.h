#pragma once

#include "SyncModel/Support/Json.h"

namespace kelto {

// mirror: B becomes a copy of A; copy: add and update only; twoWay: both ways.
enum class SyncMode { mirror, copy, twoWay };
template <>
struct EnumNames<SyncMode> {
    static constexpr std::array<std::string_view, 3> names{"mirror", "copy", "twoWay"};
};

}  // namespace kelto
