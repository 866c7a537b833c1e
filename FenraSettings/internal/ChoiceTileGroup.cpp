#include "FenraSettings/internal/ChoiceTileGroup.h"

#include "FenraSettings/internal/ChoiceTile.h"
#include "FenraSettings/internal/FittingLayout.h"

namespace kelto {

ChoiceTileGroup::ChoiceTileGroup(const std::vector<std::pair<QString, QWidget*>>& tiles, QWidget* parent)
    : QWidget(parent), layout_(new FittingLayout(this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(12);
    for (const auto& [title, preview] : tiles) {
        auto* tile = new ChoiceTile(title, preview, this);
        const int index = static_cast<int>(tiles_.size());
        connect(tile, &QAbstractButton::clicked, this, [this, index] { emit tileClicked(index); });
        layout_->addWidget(tile);
        tiles_.push_back(tile);
    }
}

void ChoiceTileGroup::markTile(std::optional<int> index) {
    marked_ = index;
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        tiles_[i]->setSelected(index && static_cast<std::size_t>(*index) == i);
    }
}

bool ChoiceTileGroup::isRow() const {
    return layout_->fitsRow(width());
}

}  // namespace kelto
