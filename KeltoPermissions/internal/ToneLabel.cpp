#include "KeltoPermissions/internal/ToneLabel.h"

#include "FenraCore/FenraFont.h"

#include <QEvent>

namespace kelto {

ToneLabel::ToneLabel(const QString& text, FontRole role, const FenraColor* color, QWidget* parent)
    : QLabel(text, parent), color_(color) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setFont(FenraFont::font(role));
    recolour();
}

void ToneLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) recolour();
}

void ToneLabel::recolour() {
    if (color_ == nullptr) return;
    // Our own text role is set, so the appearance is read from the parent's.
    const QPalette inherited = parentWidget() ? parentWidget()->palette() : QPalette();
    const QColor wanted = color_->color(inherited);
    if (palette().color(QPalette::WindowText) == wanted) return;
    QPalette own = palette();
    own.setColor(QPalette::WindowText, wanted);
    setPalette(own);
}

}  // namespace kelto
