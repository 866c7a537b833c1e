#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <utility>
#include <vector>

namespace kelto {

class ChoiceTile;
class FittingLayout;

// The tiles of `ChoiceTiles` by position, apart from the option type: a row
// of them, 12 points apart, or a column when the row does not fit.
class ChoiceTileGroup : public QWidget {
    Q_OBJECT

public:
    // Each tile from its title and preview; the tiles take the previews.
    explicit ChoiceTileGroup(const std::vector<std::pair<QString, QWidget*>>& tiles, QWidget* parent = nullptr);

    // Marks the tile at the index, or none.
    void markTile(std::optional<int> index);
    std::optional<int> markedTile() const { return marked_; }
    // Whether the tiles stand in a row at the current width.
    bool isRow() const;

signals:
    void tileClicked(int index);

private:
    std::vector<ChoiceTile*> tiles_;
    FittingLayout* layout_;
    std::optional<int> marked_;
};

}  // namespace kelto
