#pragma once

#include "SyncModel/Support/Json.h"

namespace kelto {

// The two folders of a job: a is the source (first folder), b the destination
// (second folder). Ordered, so it can key a std::map.
enum class Side { a, b };
template <>
struct EnumNames<Side> {
    static constexpr std::array<std::string_view, 2> names{"a", "b"};
};

}  // namespace kelto
