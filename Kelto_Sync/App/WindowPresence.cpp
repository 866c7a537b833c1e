#include "Kelto_Sync/App/WindowPresence.h"

#include <QEvent>
#include <QTimer>

namespace kelto {

WindowPresence::WindowPresence(QObject* parent) : QObject(parent) {}

bool WindowPresence::registerWindow(QWidget* window) {
    if (!window || qEnvironmentVariable("KELTO_SYNC_RENDER_TESTS") == QLatin1String("1")) return false;
    for (const auto& known : windows_)
        if (known == window) return false;
    windows_.emplace_back(window);
    window->installEventFilter(this);
    update();
    return true;
}

bool WindowPresence::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Close:
    case QEvent::WindowStateChange:
    case QEvent::WindowActivate:
    case QEvent::Destroy:
        scheduleUpdate();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void WindowPresence::scheduleUpdate() {
    if (std::exchange(updateScheduled_, true)) return;
    QTimer::singleShot(0, this, [this] {
        updateScheduled_ = false;
        update();
    });
}

void WindowPresence::update() {
    std::erase_if(windows_, [](const QPointer<QWidget>& w) { return w.isNull(); });
    QWidget* shown = nullptr;
    for (const auto& window : windows_)
        if (window->isVisible() && !window->isMinimized()) {
            shown = window;
            break;
        }
    const bool wanted = shown != nullptr;
    if (wanted == regular_) return;
    regular_ = wanted;
    if (regular_) {
        shown->raise();
        shown->activateWindow();
    }
    emit regularChanged(regular_);
}

}  // namespace kelto
