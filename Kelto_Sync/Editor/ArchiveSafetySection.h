#pragma once

#include "Kelto_Sync/Editor/EditorSection.h"

class QCheckBox;
class QLabel;

namespace kelto {

class IntegerField;
class SettingsRow;

// "Archive & safety": the archive switch, how long archived runs stay, and
// the two limits of the deletion guard. Values are stored as typed; the
// editor refuses to save what the validator reports.
class ArchiveSafetySection : public EditorSection {
public:
    ArchiveSafetySection(SyncStrings strings, Report report, QWidget* parent = nullptr);

    static constexpr std::int64_t defaultRetentionDays = 30;
    static bool keepForever(const JobOptions& options) { return !options.archiveRetentionDays.has_value(); }
    // On: no retention. Off: 30 days, whatever was there before.
    static SyncJob withKeepForever(SyncJob job, bool on);
    static bool retentionOutOfRange(const JobOptions& options);

    QCheckBox* archiveSwitch() const { return archive_; }
    QCheckBox* keepForeverSwitch() const { return keepForever_; }
    QWidget* retentionRow() const { return retentionRow_; }
    IntegerField* retentionField() const { return retention_; }
    QLabel* retentionMessage() const { return message_; }
    IntegerField* guardPercentField() const { return percent_; }
    IntegerField* guardMinFilesField() const { return minFiles_; }

protected:
    void refresh() override;

private:
    QCheckBox* archive_;
    QCheckBox* keepForever_;
    QWidget* retentionRow_;
    IntegerField* retention_;
    QLabel* message_;
    IntegerField* percent_;
    IntegerField* minFiles_;
};

}  // namespace kelto
