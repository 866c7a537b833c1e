#pragma once

namespace kelto {

// How a status is worded: a privacy permission (allowed / not allowed) or a
// switch-like setting (on / off).
enum class PermissionPresentation { permission, setting };

}  // namespace kelto
