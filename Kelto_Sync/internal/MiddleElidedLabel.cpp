#include "Kelto_Sync/internal/MiddleElidedLabel.h"

#include "Kelto_Sync/PlainToolTip.h"

#include <QEvent>

namespace kelto {

MiddleElidedLabel::MiddleElidedLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    // The width comes from the layout, never from the text.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void MiddleElidedLabel::setFullText(const QString& text) {
    if (text == fullText_) {
        return;
    }
    fullText_ = text;
    setToolTip(PlainToolTip::text(text));
    setAccessibleName(text);
    elide();
}

QSize MiddleElidedLabel::minimumSizeHint() const {
    return QSize(0, fontMetrics().height());
}

QSize MiddleElidedLabel::sizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(fullText_), fontMetrics().height());
}

void MiddleElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void MiddleElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        elide();
    }
}

void MiddleElidedLabel::elide() {
    QLabel::setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, contentsRect().width()));
}

}  // namespace kelto
