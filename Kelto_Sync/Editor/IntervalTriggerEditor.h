#pragma once

#include "Kelto_Sync/SyncStrings.h"
#include "SyncModel/Trigger.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QToolButton;

namespace kelto {

class IntegerField;

// "Repeat every [n] [unit]" for one interval trigger, with the interval
// rule's message under it. It shows what it was last given and passes every
// edit to `set` once; it never changes its own value.
class IntervalTriggerEditor : public QWidget {
public:
    using Set = std::function<void(std::int64_t value, IntervalUnit unit)>;

    IntervalTriggerEditor(SyncStrings strings, Set set, QWidget* parent = nullptr);

    void setInterval(std::int64_t value, IntervalUnit unit);

    // The stepper: none where it stops (the largest count going up; 15
    // minutes, 1 hour or 1 day going down).
    static std::optional<std::int64_t> incremented(std::int64_t value);
    static std::optional<std::int64_t> decremented(std::int64_t value, IntervalUnit unit);
    // A new unit keeps the count (no conversion), raised to the unit's minimum.
    static std::int64_t countForUnit(std::int64_t value, IntervalUnit unit);
    static QString unitLabel(IntervalUnit unit);

    IntegerField* valueField() const { return field_; }
    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }
    QComboBox* unitPicker() const { return unitPicker_; }
    QLabel* issueLabel() const { return issue_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    SyncStrings strings_;
    Set set_;
    std::int64_t value_ = 1;
    IntervalUnit unit_ = IntervalUnit::hours;
    QLabel* lead_;
    IntegerField* field_;
    QToolButton* up_;
    QToolButton* down_;
    QComboBox* unitPicker_;
    QLabel* issue_;
};

}  // namespace kelto
