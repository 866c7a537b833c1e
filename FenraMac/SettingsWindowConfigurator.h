#pragma once

#include <QSize>
#include <QString>

class QWidget;

namespace kelto {

// Gives a settings window its look and size rules in one call, once the
// window exists and has its title:
// - a window with a title bar and close, minimise and maximise buttons,
//   resizable, with content no smaller than 680 by 480 and 780 by 600 to
//   begin with;
// - its geometry kept in QSettings under `geometryKey(autosaveName)` at
//   every move and resize, and restored from there when present (a window
//   shell centres the window itself only when the key is absent);
// - one `SettingsToolbarPolicy`, however often the window is configured.
// The transparent title bar, hidden title, unified toolbar, full-size
// content and the toolbar's title item have no form on Linux and are not
// set.
struct SettingsWindowConfigurator {
    static constexpr QSize minimumContentSize{680, 480};
    static constexpr QSize contentSize{780, 600};

    static void configure(QWidget& window, const QString& autosaveName);
    // "windowGeometry/" + the autosave name: the bytes of
    // QWidget::saveGeometry.
    static QString geometryKey(const QString& autosaveName);
};

}  // namespace kelto
