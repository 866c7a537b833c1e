#pragma once

#include "FenraCore/FoldedTile.h"

#include <QWidget>

namespace kelto {

// A FoldedTile as a fixed-size widget; decoration only.
class TileView : public QWidget {
    Q_OBJECT
public:
    TileView(const QString& symbolName, TileTint tint, int size, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FoldedTile tile_;
};

}  // namespace kelto
