#include "KeltoPermissions/LoginItem.h"

#include "Platform/Desktop/AutostartEntry.h"

#include <QCoreApplication>

namespace kelto {

LoginItem LoginItem::current() {
    QString name = QCoreApplication::applicationName();
    if (name.isEmpty()) name = QStringLiteral("Kelto Sync");
    return {AutostartEntry::path(QStringLiteral("kelto-sync.desktop")), QCoreApplication::applicationFilePath(), name};
}

QStringList LoginItem::command() const {
    return {executable, QStringLiteral("--login-item")};
}

}  // namespace kelto
