#pragma once

#include <functional>

namespace kelto {

// What the tray's menu entries do; the application supplies them. An absent
// action makes its entry do nothing.
struct TrayActions {
    std::function<void()> openMainWindow;
    std::function<void()> syncAll;
    std::function<void()> showSettings;
    std::function<void()> quit;
};

}  // namespace kelto
