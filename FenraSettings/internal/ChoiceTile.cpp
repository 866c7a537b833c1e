#include "FenraSettings/internal/ChoiceTile.h"

#include "FenraCore/DogEar.h"
#include "FenraSettings/internal/ChoiceTileAccessible.h"
#include "FenraSettings/internal/PreviewFrame.h"
#include "FenraSettings/internal/TitleChip.h"

#include <QAccessible>
#include <QGraphicsEffect>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QVBoxLayout>

namespace kelto {

ChoiceTile::ChoiceTile(const QString& title, QWidget* preview, QWidget* parent)
    : QAbstractButton(parent),
      title_(title),
      ear_(new DogEar(new PreviewFrame(preview), PreviewFrame::cornerRadius, PreviewFrame::cornerRadius, this)),
      chip_(new TitleChip(title, this)) {
    static const bool accessibleInstalled = (QAccessible::installFactory(&ChoiceTileAccessible::create), true);
    Q_UNUSED(accessibleInstalled);

    setAccessibleName(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(8);
    layout->addWidget(ear_, 0, Qt::AlignHCenter);
    layout->addWidget(chip_, 0, Qt::AlignHCenter);
    // The tile takes every click inside it, on its parts and between them.
    ear_->setAttribute(Qt::WA_TransparentForMouseEvents);
    chip_->setAttribute(Qt::WA_TransparentForMouseEvents);
    ear_->graphicsEffect()->setEnabled(false);
}

void ChoiceTile::setSelected(bool selected) {
    if (selected_ == selected) {
        return;
    }
    selected_ = selected;
    ear_->graphicsEffect()->setEnabled(selected);
    chip_->setSelected(selected);
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

void ChoiceTile::paintEvent(QPaintEvent*) {
    if (!hasFocus()) {
        return;
    }
    QStylePainter painter(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
}

}  // namespace kelto
