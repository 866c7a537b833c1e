#include "KeltoPermissions/PermissionRequirement.h"

namespace kelto::PermissionRequirements {

const std::array<PermissionRequirement, 3>& allCases() {
    static constexpr std::array<PermissionRequirement, 3> cases{
        PermissionRequirement::required, PermissionRequirement::recommended, PermissionRequirement::optional};
    return cases;
}

int rawValue(PermissionRequirement requirement) {
    return static_cast<int>(requirement);
}

std::optional<PermissionRequirement> fromRawValue(int rawValue) {
    if (rawValue < 0 || rawValue > 2) return std::nullopt;
    return static_cast<PermissionRequirement>(rawValue);
}

}  // namespace kelto::PermissionRequirements
