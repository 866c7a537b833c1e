#include "Kelto_Sync/internal/TransferFiguresLayout.h"

#include <QWidget>

#include <algorithm>

namespace kelto {
namespace {

constexpr int bytesIndex = 0;
constexpr int rateIndex = 1;
constexpr int etaIndex = 2;

}  // namespace

TransferFiguresLayout::TransferFiguresLayout(QWidget* bytes, QWidget* rate, QWidget* eta, QWidget* parent)
    : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
    addWidget(bytes);
    addWidget(rate);
    addWidget(eta);
}

TransferFiguresLayout::~TransferFiguresLayout() {
    for (QLayoutItem* item : items_) {
        delete item;
    }
}

void TransferFiguresLayout::addItem(QLayoutItem* item) {
    items_.push_back(item);
}

QLayoutItem* TransferFiguresLayout::itemAt(int index) const {
    return index >= 0 && index < count() ? items_[static_cast<std::size_t>(index)] : nullptr;
}

QLayoutItem* TransferFiguresLayout::takeAt(int index) {
    if (index < 0 || index >= count()) {
        return nullptr;
    }
    QLayoutItem* item = items_[static_cast<std::size_t>(index)];
    items_.erase(items_.begin() + index);
    return item;
}

int TransferFiguresLayout::count() const {
    return static_cast<int>(items_.size());
}

QLayoutItem* TransferFiguresLayout::shown(int index) const {
    QLayoutItem* item = itemAt(index);
    return item != nullptr && !item->isEmpty() ? item : nullptr;
}

int TransferFiguresLayout::trailingWidth() const {
    const QLayoutItem* rate = shown(rateIndex);
    const QLayoutItem* eta = shown(etaIndex);
    int width = rate != nullptr ? rate->sizeHint().width() : 0;
    if (eta != nullptr) {
        width += eta->sizeHint().width() + (rate != nullptr ? spacing : 0);
    }
    return width;
}

int TransferFiguresLayout::wideWidth() const {
    const QLayoutItem* bytes = shown(bytesIndex);
    const int trailing = trailingWidth();
    return (bytes != nullptr ? bytes->sizeHint().width() : 0) + spacing + (trailing > 0 ? trailing + spacing : 0);
}

int TransferFiguresLayout::wideHeight() const {
    int height = 0;
    for (int index = 0; index < count(); ++index) {
        if (const QLayoutItem* item = shown(index)) {
            height = std::max(height, item->sizeHint().height());
        }
    }
    return height;
}

int TransferFiguresLayout::narrowHeight() const {
    const QLayoutItem* bytes = shown(bytesIndex);
    int trailing = 0;
    for (int index : {rateIndex, etaIndex}) {
        if (const QLayoutItem* item = shown(index)) {
            trailing = std::max(trailing, item->sizeHint().height());
        }
    }
    const int top = bytes != nullptr ? bytes->sizeHint().height() : 0;
    return top + (trailing > 0 ? lineSpacing + trailing : 0);
}

QSize TransferFiguresLayout::sizeHint() const {
    return QSize(wideWidth(), wideHeight());
}

QSize TransferFiguresLayout::minimumSize() const {
    const QLayoutItem* bytes = shown(bytesIndex);
    const int width = std::max(bytes != nullptr ? bytes->minimumSize().width() : 0, trailingWidth());
    return QSize(width, wideHeight());
}

int TransferFiguresLayout::heightForWidth(int width) const {
    return width >= wideWidth() ? wideHeight() : narrowHeight();
}

void TransferFiguresLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const bool wide = rect.width() >= wideWidth();
    const int rowHeight = wideHeight();
    QLayoutItem* bytes = shown(bytesIndex);
    int top = rect.top();
    if (bytes != nullptr) {
        const QSize size = bytes->sizeHint();
        bytes->setGeometry(QRect(QPoint(rect.left(), top + (wide ? (rowHeight - size.height()) / 2 : 0)),
                                 QSize(std::min(size.width(), rect.width()), size.height())));
        if (!wide) {
            top += size.height() + lineSpacing;
        }
    }
    // Wide: flush with the trailing edge; narrow: a line of their own from the leading edge.
    int x = wide ? rect.right() + 1 - trailingWidth() : rect.left();
    for (int index : {rateIndex, etaIndex}) {
        if (QLayoutItem* item = shown(index)) {
            const QSize size = item->sizeHint();
            item->setGeometry(QRect(QPoint(x, top + (rowHeight - size.height()) / 2), size));
            x += size.width() + spacing;
        }
    }
}

}  // namespace kelto
