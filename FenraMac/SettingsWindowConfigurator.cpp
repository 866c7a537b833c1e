#include "FenraMac/SettingsWindowConfigurator.h"

#include "FenraMac/SettingsToolbarPolicy.h"
#include "FenraMac/internal/WindowGeometryAutosave.h"

#include <QSettings>
#include <QWidget>

namespace kelto {

QString SettingsWindowConfigurator::geometryKey(const QString& autosaveName) {
    return QStringLiteral("windowGeometry/") + autosaveName;
}

void SettingsWindowConfigurator::configure(QWidget& window, const QString& autosaveName) {
    // Read before the sizes below, which a watched window would save.
    const QString key = geometryKey(autosaveName);
    const QVariant saved = QSettings().value(key);
    const bool visible = window.isVisible();
    window.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    if (visible) {
        // New flags take effect by hiding the window.
        window.show();
    }
    if (window.findChild<SettingsToolbarPolicy*>(QString(), Qt::FindDirectChildrenOnly) == nullptr) {
        new SettingsToolbarPolicy(window);
    }
    window.setMinimumSize(minimumContentSize);
    window.resize(contentSize);

    auto* autosave = window.findChild<WindowGeometryAutosave*>(QString(), Qt::FindDirectChildrenOnly);
    if (autosave != nullptr) {
        autosave->setKey(key);
    }
    if (saved.isValid()) {
        window.restoreGeometry(saved.toByteArray());
    }
    // Watching only now, so that a first configuration does not save the
    // default size over the stored one.
    if (autosave == nullptr) {
        new WindowGeometryAutosave(window, key);
    }
}

}  // namespace kelto
