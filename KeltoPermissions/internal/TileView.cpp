#include "KeltoPermissions/internal/TileView.h"

#include "FenraCore/FenraIcon.h"

#include <QPainter>

namespace kelto {

TileView::TileView(const QString& symbolName, TileTint tint, int size, QWidget* parent)
    : QWidget(parent), tile_(FenraIcon::permission, tint, size) {
    tile_.symbolName = symbolName;
    setFixedSize(size, size);
}

void TileView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    tile_.paint(painter, QPointF(0, 0), palette());
}

}  // namespace kelto
