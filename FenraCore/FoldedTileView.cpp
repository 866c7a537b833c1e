#include "FenraCore/FoldedTileView.h"

#include <QPainter>

namespace kelto {

FoldedTileView::FoldedTileView(int side, QWidget* parent) : QWidget(parent) { setFixedSize(side, side); }

void FoldedTileView::setTile(FoldedTile tile, std::optional<QColor> ring) {
    tile_ = std::move(tile);
    ring_ = ring;
    update();
}

void FoldedTileView::paintEvent(QPaintEvent*) {
    if (!tile_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    tile_->paint(painter, QPointF(0, 0), palette());
    if (ring_) tile_->paintRing(painter, QPointF(0, 0), *ring_);
}

}  // namespace kelto
