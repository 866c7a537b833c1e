#pragma once

#include "Kelto_Sync/SyncStrings.h"
#include "SyncModel/Trigger.h"

#include <QWidget>

#include <array>
#include <functional>

class QComboBox;
class QLabel;
class QTimeEdit;
class QToolButton;

namespace kelto {

class IntervalTriggerEditor;

// One row of the Triggers section: the editor of one trigger kind and a
// remove button. The row follows the trigger at its position; a trigger of
// another kind there gets a new row.
class TriggerRow : public QWidget {
public:
    TriggerRow(Trigger::Kind kind, SyncStrings strings, std::function<void(Trigger)> replace,
               std::function<void()> remove, QWidget* parent = nullptr);

    Trigger::Kind kind() const { return kind_; }
    void setTrigger(const Trigger& trigger);

    QComboBox* actionPicker() const { return action_; }
    IntervalTriggerEditor* intervalEditor() const { return interval_; }
    QTimeEdit* timeEdit() const { return time_; }
    QToolButton* weekdayButton(std::int64_t day) const { return weekdays_[day - 1]; }
    QLabel* weekdayMessage() const { return message_; }
    QToolButton* removeButton() const { return remove_; }

private:
    Trigger::Kind kind_;
    SyncStrings strings_;
    std::function<void(Trigger)> replace_;
    Trigger trigger_;
    QComboBox* action_ = nullptr;
    IntervalTriggerEditor* interval_ = nullptr;
    QTimeEdit* time_ = nullptr;
    std::array<QToolButton*, 7> weekdays_{};
    QLabel* message_ = nullptr;
    QToolButton* remove_;
};

}  // namespace kelto
