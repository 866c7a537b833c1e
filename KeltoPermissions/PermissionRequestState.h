#pragma once

#include <QString>

#include <optional>

namespace kelto {

// The user-facing message of an item's last failed request or check, none
// once one succeeded. Shared (through a shared_ptr) by the item's check and
// request; not observable: the checklist copies it after each of them.
struct PermissionRequestState {
    std::optional<QString> error;
};

}  // namespace kelto
