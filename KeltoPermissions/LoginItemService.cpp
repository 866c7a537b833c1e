#include "KeltoPermissions/LoginItemService.h"

#include "KeltoPermissions/LoginItemProbe.h"
#include "Platform/Desktop/AutostartEntryError.h"

#include <QFile>
#include <QFileInfo>

namespace kelto {

LoginItemState LoginItemService::status() const {
    return LoginItemProbe::state(item_());
}

void LoginItemService::registerItem() const {
    LoginItemProbe::registerItem(item_());
}

void LoginItemService::unregisterItem() const {
    const QString path = item_().entryPath;
    const QFileInfo entry(path);
    if (!entry.exists() && !entry.isSymLink()) return;
    QFile file(path);
    if (!file.remove()) {
        throw AutostartEntryError(AutostartEntryError::Code::notWritten, path, file.errorString());
    }
}

}  // namespace kelto
