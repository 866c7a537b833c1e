#include "FenraSettings/internal/FittingLayout.h"

#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace kelto {

FittingLayout::FittingLayout(QWidget* parent) : QLayout(parent) {}

FittingLayout::~FittingLayout() {
    while (QLayoutItem* item = takeAt(0)) {
        delete item;
    }
}

void FittingLayout::addItem(QLayoutItem* item) {
    items_.append(item);
}

int FittingLayout::count() const {
    return static_cast<int>(items_.size());
}

QLayoutItem* FittingLayout::itemAt(int index) const {
    return items_.value(index);
}

QLayoutItem* FittingLayout::takeAt(int index) {
    return index >= 0 && index < items_.size() ? items_.takeAt(index) : nullptr;
}

QSize FittingLayout::rowSize() const {
    QSize size;
    for (const QLayoutItem* item : items_) {
        const QSize hint = item->sizeHint();
        size.rwidth() += hint.width();
        size.setHeight(std::max(size.height(), hint.height()));
    }
    size.rwidth() += spacing() * std::max(0, count() - 1);
    const QMargins margins = contentsMargins();
    return size.grownBy(margins);
}

bool FittingLayout::fitsRow(int width) const {
    return rowSize().width() <= width;
}

int FittingLayout::itemHeight(const QLayoutItem& item, int width) const {
    return item.hasHeightForWidth() ? item.heightForWidth(width) : item.sizeHint().height();
}

int FittingLayout::columnHeight(int width) const {
    const QMargins margins = contentsMargins();
    const int inner = width - margins.left() - margins.right();
    int height = spacing() * std::max(0, count() - 1);
    for (const QLayoutItem* item : items_) {
        height += itemHeight(*item, std::min(inner, item->sizeHint().width()));
    }
    return height + margins.top() + margins.bottom();
}

QSize FittingLayout::sizeHint() const {
    return rowSize();
}

QSize FittingLayout::minimumSize() const {
    int width = 0;
    for (const QLayoutItem* item : items_) {
        width = std::max(width, item->minimumSize().width());
    }
    const QMargins margins = contentsMargins();
    return QSize(width + margins.left() + margins.right(), 0);
}

int FittingLayout::heightForWidth(int width) const {
    return fitsRow(width) ? rowSize().height() : columnHeight(width);
}

void FittingLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QRect inner = rect.marginsRemoved(contentsMargins());
    const Qt::LayoutDirection direction = parentWidget() != nullptr ? parentWidget()->layoutDirection() : Qt::LeftToRight;
    const bool row = fitsRow(rect.width());
    int offset = 0;
    for (QLayoutItem* item : items_) {
        const QSize hint = item->sizeHint();
        QRect place;
        if (row) {
            place = QRect(inner.x() + offset, inner.y(), hint.width(), hint.height());
            offset += hint.width() + spacing();
        } else {
            const int width = std::min(inner.width(), hint.width());
            place = QRect(inner.x(), inner.y() + offset, width, itemHeight(*item, width));
            offset += place.height() + spacing();
        }
        item->setGeometry(QStyle::visualRect(direction, inner, place));
    }
}

}  // namespace kelto
