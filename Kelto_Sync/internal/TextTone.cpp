#include "Kelto_Sync/internal/TextTone.h"

#include <QEvent>
#include <QWidget>

namespace kelto {

TextTone::TextTone(QWidget* widget, const FenraColor& color) : QObject(widget), widget_(widget), color_(color) {
    widget->installEventFilter(this);
}

void TextTone::apply(QWidget* widget, const FenraColor& color) {
    auto* tone = widget->findChild<TextTone*>(QString(), Qt::FindDirectChildrenOnly);
    if (tone == nullptr) {
        tone = new TextTone(widget, color);
    } else {
        tone->color_ = color;
    }
    tone->recolour();
}

bool TextTone::eventFilter(QObject* watched, QEvent* event) {
    // A parent sends its children the change after its own, so by then the
    // parent's palette is the new one.
    if (watched == widget_ && (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange)) {
        recolour();
    }
    return false;
}

void TextTone::recolour() {
    // Our own text role is set, so the appearance is read from the parent's.
    const QWidget* judge = widget_->parentWidget() != nullptr ? widget_->parentWidget() : widget_;
    const QColor wanted = color_.color(judge->palette());
    if (widget_->palette().color(QPalette::WindowText) == wanted) return;
    QPalette own = widget_->palette();
    own.setColor(QPalette::WindowText, wanted);
    widget_->setPalette(own);
}

}  // namespace kelto
