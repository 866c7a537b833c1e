#include "SyncModel/FilterSet.h"

#include "SyncModel/Support/Text.h"

namespace kelto {

std::vector<std::string> FilterSet::effectivePatterns() const {
    std::vector<std::string> out;
    if (useDefaultExcludes) {
        out.reserve(defaultExcludes.size() + patterns.size());
        for (std::string_view p : defaultExcludes) out.emplace_back(p);
    }
    out.insert(out.end(), patterns.begin(), patterns.end());
    return out;
}

bool operator==(const FilterSet& a, const FilterSet& b) {
    return a.useDefaultExcludes == b.useDefaultExcludes && Text::equal(a.patterns, b.patterns);
}

Json JsonCodec<FilterSet>::encode(const FilterSet& f) {
    Json out = Json::object();
    out["useDefaultExcludes"] = f.useDefaultExcludes;
    Json patterns = Json::array();
    for (const std::string& p : f.patterns) patterns.push_back(p);
    out["patterns"] = std::move(patterns);
    return out;
}

FilterSet JsonCodec<FilterSet>::decode(const JsonIn& in) {
    FilterSet f;
    f.useDefaultExcludes = in["useDefaultExcludes"].boolean();
    for (const JsonIn& p : in["patterns"].array()) f.patterns.push_back(p.string());
    return f;
}

}  // namespace kelto
