#pragma once

#include "FenraCore/Binding.h"
#include "FenraSettings/internal/ChoiceTileGroup.h"

#include <QPointer>
#include <QString>

#include <algorithm>
#include <iterator>
#include <vector>

namespace kelto {

// A picker of a few exclusive options, each a tile: its preview picture in a
// frame over its title. Clicking a tile writes its value into the selection;
// the tile whose value equals the selection is marked (dog-eared preview,
// filled title chip), and none when no value does. Values must be distinct.
template <class Value>
class ChoiceTiles : public ChoiceTileGroup {
public:
    struct Option {
        Value value;
        QString title;
        // Taken by the tile.
        QWidget* preview;
    };

    ChoiceTiles(Binding<Value>& selection, std::vector<Option> options, QWidget* parent = nullptr)
        : ChoiceTileGroup(tilesOf(options), parent), selection_(&selection) {
        for (Option& option : options) {
            values_.push_back(std::move(option.value));
        }
        connect(this, &ChoiceTileGroup::tileClicked, this, [this](int index) {
            if (selection_ != nullptr) {
                selection_->set(values_[static_cast<std::size_t>(index)]);
            }
        });
        connect(&selection, &BindingNotifier::changed, this, [this] { mark(); });
        mark();
    }

private:
    static std::vector<std::pair<QString, QWidget*>> tilesOf(const std::vector<Option>& options) {
        std::vector<std::pair<QString, QWidget*>> tiles;
        for (const Option& option : options) {
            tiles.emplace_back(option.title, option.preview);
        }
        return tiles;
    }

    void mark() {
        if (selection_ == nullptr) {
            return;
        }
        const auto chosen = std::find(values_.begin(), values_.end(), selection_->get());
        markTile(chosen == values_.end() ? std::nullopt
                                         : std::optional<int>(static_cast<int>(std::distance(values_.begin(), chosen))));
    }

    QPointer<Binding<Value>> selection_;
    std::vector<Value> values_;
};

}  // namespace kelto
