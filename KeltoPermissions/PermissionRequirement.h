#pragma once

#include <array>
#include <optional>

namespace kelto {

// How much the host needs a permission; compares by raw value, so
// required < recommended < optional.
enum class PermissionRequirement { required = 0, recommended = 1, optional = 2 };

namespace PermissionRequirements {
const std::array<PermissionRequirement, 3>& allCases();
int rawValue(PermissionRequirement requirement);
// Only 0, 1 and 2 name a requirement.
std::optional<PermissionRequirement> fromRawValue(int rawValue);
}  // namespace PermissionRequirements

}  // namespace kelto
