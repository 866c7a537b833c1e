#include "SyncModel/Support/PathComponents.h"

#include <algorithm>

namespace kelto::PathComponents {

std::vector<std::string> of(const std::filesystem::path& path) {
    std::vector<std::string> parts;
    for (const std::filesystem::path& part : path.lexically_normal())
        if (!part.empty()) parts.push_back(part.string());
    return parts;
}

bool isPrefix(const std::vector<std::string>& prefix, const std::vector<std::string>& components) {
    return prefix.size() <= components.size() && std::equal(prefix.begin(), prefix.end(), components.begin());
}

}  // namespace kelto::PathComponents
