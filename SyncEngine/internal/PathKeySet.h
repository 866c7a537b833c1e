#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace kelto {

struct PathKeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

// A set of path keys that can be probed with a view, without a copy.
using PathKeySet = std::unordered_set<std::string, PathKeyHash, std::equal_to<>>;

}  // namespace kelto
