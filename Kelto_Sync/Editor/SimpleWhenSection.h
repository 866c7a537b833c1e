#pragma once

#include "Kelto_Sync/Editor/EditorSection.h"

#include <array>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimeEdit;
class QToolButton;
class QVBoxLayout;

namespace kelto {

class IntervalTriggerEditor;
class SettingsRow;

// When a job runs, the simple way: one on-connect switch and one timed
// trigger. A trigger list this form cannot show is listed read-only with a
// way to the advanced editor.
class SimpleWhenSection : public EditorSection {
public:
    SimpleWhenSection(SyncStrings strings, Report report, std::function<void()> editAdvanced = {},
                      QWidget* parent = nullptr);

    enum Schedule { none = 0, daily = 1, weekly = 2, every = 3 };
    static constexpr TimeOfDay defaultTime{9, 0};
    static constexpr std::int64_t defaultWeekday = 2;  // Monday

    static std::optional<Trigger> timedTrigger(const std::vector<Trigger>& triggers);
    // Names of the job's removable and network volumes, source first, each once.
    static QString deviceNames(const SyncJob& job);
    static bool runsOnConnect(const std::vector<Trigger>& triggers);
    static Schedule schedule(const std::vector<Trigger>& triggers);
    // Each leaves a list that is not simple as it is.
    static SyncJob withRunsOnConnect(SyncJob job, bool on);
    static SyncJob withTimedTrigger(SyncJob job, const std::optional<Trigger>& timed);
    static SyncJob withSchedule(const SyncJob& job, Schedule schedule);
    static SyncJob withTime(const SyncJob& job, TimeOfDay time);
    static SyncJob withWeekday(const SyncJob& job, std::int64_t day, bool on);
    static bool weekdayIsOn(const std::vector<Trigger>& triggers, std::int64_t day);
    // The read-only line of one trigger.
    static QString triggerLine(const Trigger& trigger, const SyncStrings& strings, const QLocale& locale);

    QWidget* onConnectRow() const { return onConnectRow_; }
    QCheckBox* onConnectSwitch() const { return onConnect_; }
    QComboBox* schedulePicker() const { return schedule_; }
    IntervalTriggerEditor* intervalEditor() const { return interval_; }
    QWidget* timeRow() const { return timeRow_; }
    QTimeEdit* timeEdit() const { return time_; }
    QWidget* weekdayRow() const { return weekdayRow_; }
    QToolButton* weekdayButton(std::int64_t day) const { return weekdays_[day - 1]; }
    QLabel* weekdayMessage() const { return weekdayMessage_; }
    QWidget* simpleForm() const { return simple_; }
    QWidget* lines() const { return lines_; }
    QPushButton* editAdvancedButton() const { return editAdvancedButton_; }

protected:
    void refresh() override;

private:
    void refreshOnConnectRow();

    std::function<void()> editAdvanced_;
    QWidget* lines_;
    QVBoxLayout* linesLayout_;
    QPushButton* editAdvancedButton_;
    QWidget* simple_;
    QVBoxLayout* simpleLayout_;
    QWidget* onConnectRow_ = nullptr;
    QCheckBox* onConnect_ = nullptr;
    QString onConnectTitle_;
    QComboBox* schedule_;
    IntervalTriggerEditor* interval_;
    QWidget* timeRow_;
    QTimeEdit* time_;
    QWidget* weekdayRow_;
    std::array<QToolButton*, 7> weekdays_{};
    QLabel* weekdayMessage_;
    QLabel* note_;
};

}  // namespace kelto
