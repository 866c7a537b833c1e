#include "Kelto_Sync/internal/FittingBox.h"

#include <QBoxLayout>
#include <QEvent>
#include <QResizeEvent>

namespace kelto {
namespace {

// Hidden on purpose, not merely not shown yet (a child added to a shown
// parent waits for its show).
bool leftOut(const QWidget* child) {
    return child == nullptr || (child->isHidden() && child->testAttribute(Qt::WA_WState_ExplicitShowHide));
}

}  // namespace

FittingBox::FittingBox(int rowSpacing, int columnSpacing, QWidget* parent)
    : QWidget(parent),
      rowSpacing_(rowSpacing),
      columnSpacing_(columnSpacing),
      layout_(new QBoxLayout(QBoxLayout::LeftToRight, this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(rowSpacing_);
    layout_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void FittingBox::addWidget(QWidget* widget) {
    layout_->addWidget(widget, 0, Qt::AlignLeft);
    arrange(width());
}

bool FittingBox::stacked() const {
    return layout_->direction() == QBoxLayout::TopToBottom;
}

int FittingBox::rowWidth() const {
    int total = 0;
    int shown = 0;
    for (int i = 0; i < layout_->count(); ++i) {
        QWidget* child = layout_->itemAt(i)->widget();
        if (leftOut(child)) continue;
        total += child->sizeHint().width();
        ++shown;
    }
    return total + (shown > 1 ? (shown - 1) * rowSpacing_ : 0);
}

QSize FittingBox::minimumSizeHint() const {
    int width = 0;
    for (int i = 0; i < layout_->count(); ++i) {
        if (QWidget* child = layout_->itemAt(i)->widget()) width = std::max(width, child->minimumSizeHint().width());
    }
    return {width, layout_->minimumSize().height()};
}

bool FittingBox::event(QEvent* event) {
    // A child's new text or visibility asks for a new layout.
    if (event->type() == QEvent::LayoutRequest) arrange(width());
    return QWidget::event(event);
}

void FittingBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange(event->size().width());
}

void FittingBox::arrange(int width) {
    // Until a layout gives us a width, ours is a default that says nothing;
    // deciding by it would hand the parent a stacked size hint to lay out by.
    if (!testAttribute(Qt::WA_Resized)) return;
    const bool stack = width < rowWidth();
    const auto direction = stack ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
    if (layout_->direction() == direction) return;
    layout_->setDirection(direction);
    layout_->setSpacing(stack ? columnSpacing_ : rowSpacing_);
    // The layout placed the children for the old direction before this
    // resize reached us; waiting for the posted request leaves them there
    // until the next pass of the event loop, and a row shown meanwhile is
    // drawn in the wrong arrangement.
    layout_->activate();
    updateGeometry();
}

}  // namespace kelto
