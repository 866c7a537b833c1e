#pragma once

#include "FenraCore/FoldedTile.h"

#include <QWidget>

#include <optional>

namespace kelto {

// A widget that shows one folded tile at its own size. The tile is painted
// when the widget is, at the ratio of what it is painted on, so it stays
// sharp on any screen and in any render; a pixmap made once is not.
class FoldedTileView : public QWidget {
public:
    explicit FoldedTileView(int side, QWidget* parent = nullptr);

    // `ring`: a one-pixel ring inside the outline, for a backdrop the tile
    // would blend into (see FoldedTile::ring).
    void setTile(FoldedTile tile, std::optional<QColor> ring = std::nullopt);
    const std::optional<FoldedTile>& tile() const { return tile_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<FoldedTile> tile_;
    std::optional<QColor> ring_;
};

}  // namespace kelto
