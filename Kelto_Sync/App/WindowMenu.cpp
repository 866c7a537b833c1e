#include "Kelto_Sync/App/WindowMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace kelto {

WindowMenu::Made WindowMenu::make(QWidget& window, const SyncStrings& strings, const QLocale& locale,
                                  bool hasRuntime, std::function<void()> openSettings, std::function<void()> quit) {
    auto* bar = new QMenuBar(&window);
    QMenu* file = bar->addMenu(strings.text(QStringLiteral("Kelto Sync"), locale));
    QAction* settings = file->addAction(strings.text(QStringLiteral("Settings…"), locale));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setEnabled(hasRuntime);
    if (openSettings) QObject::connect(settings, &QAction::triggered, bar, [openSettings] { openSettings(); });
    QAction* quitAction = file->addAction(strings.text(QStringLiteral("Quit"), locale));
    quitAction->setShortcut(QKeySequence::Quit);
    if (quit) QObject::connect(quitAction, &QAction::triggered, bar, [quit] { quit(); });
    return {bar, settings, quitAction};
}

}  // namespace kelto
