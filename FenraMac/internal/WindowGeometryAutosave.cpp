#include "FenraMac/internal/WindowGeometryAutosave.h"

#include <QEvent>
#include <QSettings>
#include <QWidget>

namespace kelto {

WindowGeometryAutosave::WindowGeometryAutosave(QWidget& window, const QString& key)
    : QObject(&window), window_(window), key_(key) {
    window.installEventFilter(this);
}

bool WindowGeometryAutosave::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && (event->type() == QEvent::Move || event->type() == QEvent::Resize)) {
        QSettings().setValue(key_, window_.saveGeometry());
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace kelto
