#pragma once

#include "Kelto_Sync/App/SyncSetup.h"
#include "tests/permissions/checklist/FakePermission.h"

#include <memory>

namespace kelto::test {

// The setup's desktop replaced: items whose probes answer when the test
// says, an opener that only counts, a relauncher that does nothing and no
// companion.
struct SetupRig {
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    int opens = 0;
    AppRelauncher relauncher{[] {}, [] {}};

    SyncSetup::Dependencies dependencies() {
        return SyncSetup::Dependencies{
            .strings = SyncStrings::application(),
            .locale = QLocale(QLocale::English),
            .makeItems =
                [probe = probe](QSettings&) {
                    return std::vector<PermissionItem>{
                        fakeItem(SyncSetup::fullDiskID, PermissionRequirement::recommended, probe),
                        fakeItem(SyncSetup::loginID, PermissionRequirement::recommended, probe),
                        fakeItem(SyncSetup::notificationsID, PermissionRequirement::optional, probe),
                    };
                },
            .openSettings = [this](const SettingsDestination&) { return ++opens, true; },
            .relauncher = &relauncher,
            .companion = std::nullopt,
            .loginItem = {},
            .requestNotifications = {},
        };
    }
    // Unanswered probes hold the checklist's callbacks.
    ~SetupRig() { probe->waiting.clear(); }
};

}  // namespace kelto::test
