#pragma once

#include "SyncModel/Support/Unicode.h"

#include <optional>
#include <string>
#include <vector>

namespace kelto::Text {

// Text equality of the model: canonical equivalence.
inline bool equal(const std::string& a, const std::string& b) { return Unicode::canonicallyEqual(a, b); }

inline bool equal(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    if (a.has_value() != b.has_value()) return false;
    return !a || equal(*a, *b);
}

inline bool equal(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!equal(a[i], b[i])) return false;
    return true;
}

}  // namespace kelto::Text
