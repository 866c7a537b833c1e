#pragma once

#include "SyncModel/Support/Json.h"

#include <array>
#include <string>
#include <vector>

namespace kelto {

struct FilterSet {
    bool useDefaultExcludes = false;
    std::vector<std::string> patterns;  // user's rsync exclude patterns, in order

    // System files excluded by default. The last is "Icon" and a carriage return.
    static constexpr std::array<std::string_view, 8> defaultExcludes{
        ".DS_Store",  "._*",          "/.Spotlight-V100/",         "/.Trashes/",
        "/.fseventsd/", "/.TemporaryItems/", "/.DocumentRevisions-V100/", "Icon\r"};

    // The defaults (when on) followed by the user's patterns, nothing removed.
    std::vector<std::string> effectivePatterns() const;

    friend bool operator==(const FilterSet& a, const FilterSet& b);
};

template <>
struct JsonCodec<FilterSet> {
    static Json encode(const FilterSet& value);
    static FilterSet decode(const JsonIn& in);
};

}  // namespace kelto
