#include "FenraMac/SettingsToolbarPolicy.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QToolBar>

namespace kelto {

QString SettingsToolbarPolicy::sidebarToggleName() {
    return QStringLiteral("toggleSidebar");
}

SettingsToolbarPolicy::SettingsToolbarPolicy(QWidget& window) : QObject(&window), window_(&window) {
    // Toolbars may be added anywhere in the window, at any time: additions
    // are watched application-wide and checked against the window.
    QCoreApplication::instance()->installEventFilter(this);
    removeSidebarToggle();
}

SettingsToolbarPolicy::~SettingsToolbarPolicy() {
    if (QCoreApplication* application = QCoreApplication::instance()) {
        application->removeEventFilter(this);
    }
}

void SettingsToolbarPolicy::removeSidebarToggle() {
    if (window_ == nullptr) {
        return;
    }
    const QString toggle = sidebarToggleName();
    for (QToolBar* toolbar : window_->findChildren<QToolBar*>()) {
        if (toolbar->window() != window_) {
            continue;
        }
        // Backwards, reading the list afresh at each step.
        for (qsizetype i = toolbar->actions().size() - 1; i >= 0; --i) {
            const QList<QAction*> actions = toolbar->actions();
            if (i < actions.size() && actions[i]->objectName() == toggle) {
                toolbar->removeAction(actions[i]);
            }
        }
    }
}

bool SettingsToolbarPolicy::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::ActionAdded || event->type() == QEvent::ParentChange) && window_ != nullptr) {
        const auto* toolbar = qobject_cast<QToolBar*>(watched);
        if (toolbar != nullptr && toolbar->window() == window_) {
            // The toolbar hears of the action before it takes it in: remove
            // it on the next turn, once the toolbar is done.
            QMetaObject::invokeMethod(this, &SettingsToolbarPolicy::removeSidebarToggle, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kelto
