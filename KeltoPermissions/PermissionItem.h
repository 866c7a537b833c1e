#pragma once

#include "FenraCore/TileTint.h"
#include "KeltoPermissions/PermissionPresentation.h"
#include "KeltoPermissions/PermissionRequestState.h"
#include "KeltoPermissions/PermissionRequirement.h"
#include "KeltoPermissions/PermissionSecondaryAction.h"
#include "KeltoPermissions/PermissionStatus.h"
#include "KeltoPermissions/SettingsDestination.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace kelto {

// Probes an item. The answer comes on the GUI thread, later: never from
// inside the call, and the GUI thread never waits for it.
using PermissionCheck = std::function<void(std::function<void(PermissionStatus)> answer)>;
// Asks for the permission; `done` is called as a check's answer is.
using PermissionRequest = std::function<void(std::function<void()> done)>;

// One permission to set up, identified by `id`. A freshly made item has no
// request state; the factories of PermissionItems set one where they need it.
struct PermissionItem {
    QString id;
    // Already localised by whoever makes the item.
    QString title;
    QString detail;
    // The name of the row's symbol (symbolNameOf a FenraSymbol).
    QString symbolName;
    TileTint tint = TileTint::cobalt;
    PermissionRequirement requirement = PermissionRequirement::required;
    // Where the permission is granted; none when nothing here grants it.
    std::optional<SettingsDestination> destination;
    PermissionCheck check;
    // Empty when there is nothing to ask.
    PermissionRequest request;
    bool opensSettingsAfterRequest = false;
    bool handsOffToSettings = false;
    bool allowsManualConfirm = false;
    std::optional<QString> ctaTitle;
    // Makes extra content for the row, parented to the widget given.
    std::function<QWidget*(QWidget* parent)> accessory;
    std::function<void()> onManualConfirm;
    std::optional<PermissionSecondaryAction> secondaryAction;
    PermissionPresentation presentation = PermissionPresentation::permission;
    bool repeatsRequest = false;
    std::shared_ptr<PermissionRequestState> requestState;
};

}  // namespace kelto
