#include "Kelto_Sync/internal/FittingBox.h"

#include <QBoxLayout>
#include <QResizeEvent>

namespace kelto {

FittingBox::FittingBox(int rowSpacing, int columnSpacing, QWidget* parent)
    : QWidget(parent),
      rowSpacing_(rowSpacing),
      columnSpacing_(columnSpacing),
      layout_(new QBoxLayout(QBoxLayout::LeftToRight, this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(rowSpacing_);
    layout_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
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
        if (child == nullptr || child->isHidden()) continue;
        total += child->sizeHint().width();
        ++shown;
    }
    return total + (shown > 1 ? (shown - 1) * rowSpacing_ : 0);
}

int FittingBox::heightForWidth(int width) const {
    const bool stack = width < rowWidth();
    int height = 0;
    int shown = 0;
    for (int i = 0; i < layout_->count(); ++i) {
        QWidget* child = layout_->itemAt(i)->widget();
        if (child == nullptr || child->isHidden()) continue;
        const int h = child->sizeHint().height();
        height = stack ? height + h : std::max(height, h);
        ++shown;
    }
    return stack && shown > 1 ? height + (shown - 1) * columnSpacing_ : height;
}

QSize FittingBox::minimumSizeHint() const {
    int width = 0;
    for (int i = 0; i < layout_->count(); ++i) {
        if (QWidget* child = layout_->itemAt(i)->widget()) width = std::max(width, child->minimumSizeHint().width());
    }
    return {width, heightForWidth(width)};
}

void FittingBox::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange(event->size().width());
}

void FittingBox::arrange(int width) {
    const bool stack = width < rowWidth();
    const auto direction = stack ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight;
    if (layout_->direction() == direction) return;
    layout_->setDirection(direction);
    layout_->setSpacing(stack ? columnSpacing_ : rowSpacing_);
    updateGeometry();
}

}  // namespace kelto
