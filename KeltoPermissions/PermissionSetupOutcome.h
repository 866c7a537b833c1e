#pragma once

namespace kelto {

// How a permission setup ended.
enum class PermissionSetupOutcome { done, later };

}  // namespace kelto
