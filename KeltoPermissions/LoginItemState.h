#pragma once

namespace kelto {

// What the autostart entry says of our login item. Nothing here ever waits
// for an approval.
enum class LoginItemState {
    notRegistered,  // no entry, hidden, switched off, or another program's
    enabled,        // starts this program at login
    notFound,       // the program it would start is gone
    unreadable,
};

}  // namespace kelto
