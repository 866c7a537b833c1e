#include "Kelto_Sync/internal/PaletteFollower.h"

#include <QEvent>
#include <QWidget>

namespace kelto {

PaletteFollower::PaletteFollower(QWidget* widget, Paint paint)
    : QObject(widget), widget_(widget), paint_(std::move(paint)) {
    widget->installEventFilter(this);
}

void PaletteFollower::follow(QWidget* widget, Paint paint) {
    auto* follower = widget->findChild<PaletteFollower*>(QString(), Qt::FindDirectChildrenOnly);
    if (follower == nullptr) {
        follower = new PaletteFollower(widget, std::move(paint));
    } else {
        follower->paint_ = std::move(paint);
    }
    follower->paint_(*widget);
}

bool PaletteFollower::eventFilter(QObject* watched, QEvent* event) {
    if (watched == widget_ && event->type() == QEvent::PaletteChange) paint_(*widget_);
    return false;
}

}  // namespace kelto
