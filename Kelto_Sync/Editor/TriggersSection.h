#pragma once

#include "Kelto_Sync/Editor/EditorSection.h"

#include <vector>

class QCheckBox;
class QPushButton;
class QVBoxLayout;

namespace kelto {

class TriggerRow;

// "Triggers": the job's whole trigger list, one row per trigger by its
// position, an "Add trigger" menu, and the battery and eject switches.
class TriggersSection : public EditorSection {
public:
    TriggersSection(SyncStrings strings, Report report, QWidget* parent = nullptr);

    // The trigger the "Add trigger" menu appends for a kind.
    static Trigger added(Trigger::Kind kind);
    static SyncJob replaced(SyncJob job, std::size_t index, Trigger trigger);
    static SyncJob removed(SyncJob job, std::size_t index);

    const std::vector<TriggerRow*>& rows() const { return rows_; }
    QPushButton* addButton() const { return add_; }
    QCheckBox* batterySwitch() const { return battery_; }
    QCheckBox* ejectSwitch() const { return eject_; }

protected:
    void refresh() override;

private:
    QVBoxLayout* rowsLayout_;
    std::vector<TriggerRow*> rows_;
    QPushButton* add_;
    QCheckBox* battery_;
    QCheckBox* eject_;
};

}  // namespace kelto
