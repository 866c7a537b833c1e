#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QLocale>
#include <QMenuBar>
#include <QWidget>

#include "Kelto_Sync/SyncStrings.h"

#include <functional>

class QAction;

namespace kelto {

// The main window's menu: Linux has no application menu, so the window
// carries "Settings…" (Ctrl+,) and "Quit" (Ctrl+Q).
struct WindowMenu {
    struct Made {
        QMenuBar* bar;
        QAction* settings;
        QAction* quit;
    };

    // Without a runtime there are no settings to open: "Settings…" is
    // disabled.
    static Made make(QWidget& window, const SyncStrings& strings, const QLocale& locale, bool hasRuntime,
                     std::function<void()> openSettings, std::function<void()> quit);
};

}  // namespace kelto
