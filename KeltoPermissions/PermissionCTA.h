#pragma once

namespace kelto {

// The call to action of a checklist row.
enum class PermissionCTA { none, request, openSettings, restart };

}  // namespace kelto
