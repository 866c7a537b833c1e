#pragma once

#include <QString>

#include <functional>

namespace kelto {

// A second button of a checklist row; its action runs on the GUI thread.
struct PermissionSecondaryAction {
    QString title;
    std::function<void()> action;
};

}  // namespace kelto
