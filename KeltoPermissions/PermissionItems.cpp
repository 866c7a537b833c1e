#include "KeltoPermissions/PermissionItems.h"

#include "KeltoPermissions/FullDiskAccessProbe.h"
#include "KeltoPermissions/LoginItemProbe.h"
#include "KeltoPermissions/NotificationProbe.h"
#include "KeltoPermissions/internal/MainThread.h"
#include "KeltoDesign/KeltoIcon.h"

#include <QThreadPool>

#include <exception>

namespace kelto {
namespace {

const QString fullDiskSymbol = symbolName(KeltoIcon::permissionFullDisk);
const QString loginItemSymbol = symbolName(KeltoIcon::permissionLoginItem);
const QString notificationsSymbol = symbolName(KeltoIcon::permissionNotifications);

}  // namespace

PermissionItem PermissionItems::fullDiskAccess(const QString& detail, PermissionRequirement requirement,
                                               const PermissionStrings& strings) {
    PermissionItem item;
    item.id = QStringLiteral("fullDiskAccess");
    item.title = strings.string(QStringLiteral("Full Disk Access"));
    item.detail = detail;
    item.symbolName = fullDiskSymbol;
    item.tint = TileTint::sky;
    item.requirement = requirement;
    item.check = [](std::function<void(PermissionStatus)> answer) {
        // Read where the user's folders are here; the files on a worker.
        auto directories = FullDiskAccessProbe::defaultDirectories();
        QThreadPool::globalInstance()->start([answer = std::move(answer), directories = std::move(directories)] {
            const PermissionStatus status = FullDiskAccessProbe::status(std::nullopt, directories);
            MainThread::post([answer, status] { answer(status); });
        });
    };
    item.opensSettingsAfterRequest = true;
    item.allowsManualConfirm = true;
    item.presentation = PermissionPresentation::permission;
    return item;
}

PermissionItem PermissionItems::loginItem(const QString& detail, PermissionRequirement requirement,
                                          const PermissionStrings& strings, std::optional<QString> ctaTitle,
                                          const LoginItem& loginItem) {
    auto state = std::make_shared<PermissionRequestState>();
    PermissionItem item;
    item.id = QStringLiteral("loginItem");
    item.title = strings.string(QStringLiteral("Open at login"));
    item.detail = detail;
    item.symbolName = loginItemSymbol;
    item.tint = TileTint::green;
    item.requirement = requirement;
    item.destination = SettingsDestination::loginItems();
    item.check = [loginItem, strings, state](std::function<void(PermissionStatus)> answer) {
        const LoginItemState found = LoginItemProbe::state(loginItem);
        if (found == LoginItemState::enabled) {
            state->error.reset();
        } else if (found == LoginItemState::notFound) {
            state->error = strings.string(QStringLiteral("The login item could not be found."));
        }
        const PermissionStatus status = LoginItemProbe::permissionStatus(found);
        MainThread::post([answer = std::move(answer), status] { answer(status); });
    };
    item.request = [loginItem, state](std::function<void()> done) {
        try {
            LoginItemProbe::registerItem(loginItem);
            state->error.reset();
        } catch (const std::exception& error) {
            state->error = QString::fromUtf8(error.what());
        }
        MainThread::post(std::move(done));
    };
    item.ctaTitle = std::move(ctaTitle);
    item.presentation = PermissionPresentation::setting;
    item.repeatsRequest = true;
    item.requestState = state;
    return item;
}

PermissionItem PermissionItems::notifications(const QString& bundleIdentifier, const QString& detail,
                                              PermissionRequirement requirement, const PermissionStrings& strings) {
    PermissionItem item;
    item.id = QStringLiteral("notifications");
    item.title = strings.string(QStringLiteral("Notifications"));
    item.detail = detail;
    item.symbolName = notificationsSymbol;
    item.tint = TileTint::coral;
    item.requirement = requirement;
    item.destination = SettingsDestination::notifications(bundleIdentifier);
    item.check = [bundleIdentifier](std::function<void(PermissionStatus)> answer) {
        NotificationProbe::status(bundleIdentifier, std::move(answer));
    };
    item.request = [](std::function<void()> done) { NotificationProbe::requestAuthorization(std::move(done)); };
    item.presentation = PermissionPresentation::permission;
    return item;
}

}  // namespace kelto
