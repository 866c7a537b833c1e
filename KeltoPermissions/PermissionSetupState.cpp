#include "KeltoPermissions/PermissionSetupState.h"

namespace kelto {

int PermissionSetupState::completedVersion() const { return defaults.value(versionKey(), 0).toInt(); }

bool PermissionSetupState::isInProgress() const { return defaults.value(inProgressKey(), false).toBool(); }

void PermissionSetupState::markInProgress() { defaults.setValue(inProgressKey(), true); }

void PermissionSetupState::markCompleted(int version) {
    defaults.setValue(versionKey(), version);
    defaults.setValue(inProgressKey(), false);
}

void PermissionSetupState::clearInProgress() { defaults.setValue(inProgressKey(), false); }

bool PermissionSetupState::shouldPresent(int completedVersion, int currentVersion, bool needsOnboarding,
                                         bool inProgress, bool force) {
    if (inProgress || force) return true;
    return needsOnboarding && completedVersion < currentVersion;
}

}  // namespace kelto
