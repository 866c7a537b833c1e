#pragma once

#include "FenraCore/Binding.h"
#include "KeltoDesign/internal/SegmentedBar.h"

#include <QPointer>
#include <QString>

#include <vector>

namespace kelto {

// A compact picker: one segment per choice, left to right in the given
// order, titles shown as given. Every segment whose value equals the
// selection is marked (so equal values light up together, and a selection
// matching none marks none); clicking a segment writes its value, also when
// it is already marked.
template <class Value>
class KeltoSegmented : public SegmentedBar {
public:
    struct Choice {
        QString title;
        Value value;
    };

    KeltoSegmented(Binding<Value>& selection, std::vector<Choice> choices, QWidget* parent = nullptr)
        : SegmentedBar(titlesOf(choices), parent), selection_(&selection) {
        for (Choice& choice : choices) {
            values_.push_back(std::move(choice.value));
        }
        connect(this, &SegmentedBar::segmentClicked, this, [this](int index) {
            if (selection_ != nullptr) {
                selection_->set(values_[static_cast<std::size_t>(index)]);
            }
        });
        connect(&selection, &BindingNotifier::changed, this, [this] { mark(); });
        mark();
    }

private:
    static std::vector<QString> titlesOf(const std::vector<Choice>& choices) {
        std::vector<QString> titles;
        for (const Choice& choice : choices) {
            titles.push_back(choice.title);
        }
        return titles;
    }

    void mark() {
        if (selection_ == nullptr) {
            return;
        }
        std::vector<bool> selected;
        for (const Value& value : values_) {
            selected.push_back(value == selection_->get());
        }
        markSegments(selected);
    }

    QPointer<Binding<Value>> selection_;
    std::vector<Value> values_;
};

}  // namespace kelto
