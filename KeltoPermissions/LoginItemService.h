#pragma once

#include "KeltoPermissions/LoginItem.h"
#include "KeltoPermissions/LoginItemState.h"

#include <functional>

namespace kelto {

// "Open at login": the one place that reads, writes and removes our
// autostart entry, for the settings switch and the permission check alike.
// The item is taken afresh at every call, so the entry follows
// XDG_CONFIG_HOME as it is then.
class LoginItemService {
public:
    explicit LoginItemService(std::function<LoginItem()> item = &LoginItem::current) : item_(std::move(item)) {}

    LoginItemState status() const;
    bool isEnabled() const { return status() == LoginItemState::enabled; }
    // Both throw AutostartEntryError, whose text is the system's reason.
    void registerItem() const;
    // Removes the entry; nothing to remove is no failure.
    void unregisterItem() const;

private:
    std::function<LoginItem()> item_;
};

}  // namespace kelto
