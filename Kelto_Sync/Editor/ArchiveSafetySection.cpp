#include "Kelto_Sync/Editor/ArchiveSafetySection.h"

#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/Editor/EditorNote.h"
#include "Kelto_Sync/Editor/IntegerField.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

namespace kelto {

namespace {

QCheckBox* makeSwitch(const QString& name) {
    auto* box = new QCheckBox;
    box->setAccessibleName(name);
    return box;
}

}  // namespace

ArchiveSafetySection::ArchiveSafetySection(SyncStrings strings, Report report, QWidget* parent)
    : EditorSection(strings, std::move(report), parent) {
    auto* column = new QVBoxLayout(this);
    auto* header = new QLabel(text("Archive & safety"), this);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    column->addWidget(header);

    archive_ = makeSwitch(text("Archive deleted and overwritten files"));
    connect(archive_, &QCheckBox::clicked, this, [this](bool on) {
        SyncJob next = job();
        next.options.archiveEnabled = on;
        this->report(next);
    });
    column->addWidget(new SettingsRow(archive_->accessibleName(), std::nullopt, [this] { return archive_; }));

    keepForever_ = makeSwitch(text("Keep forever"));
    connect(keepForever_, &QCheckBox::clicked, this, [this](bool on) { this->report(withKeepForever(job(), on)); });
    column->addWidget(new SettingsRow(keepForever_->accessibleName(), std::nullopt, [this] { return keepForever_; }));

    const auto field = [this](const QString& name, auto store) {
        auto* made = new IntegerField([this, store](std::int64_t value) {
            SyncJob next = job();
            store(next.options, value);
            this->report(next);
        });
        made->setAccessibleName(name);
        made->setFixedWidth(80);
        return made;
    };
    retention_ = field(text("Retention days (1–365)"),
                       [](JobOptions& options, std::int64_t value) { options.archiveRetentionDays = value; });
    retentionRow_ = new SettingsRow(retention_->accessibleName(), std::nullopt, [this] { return retention_; });
    column->addWidget(retentionRow_);
    message_ = new QLabel(this);
    EditorNote::apply(message_);
    PaletteTone::apply(message_, FenraTheme::error());
    column->addWidget(message_);

    percent_ = field(text("Deletion guard (%)"),
                     [](JobOptions& options, std::int64_t value) { options.deleteGuardPercent = value; });
    column->addWidget(new SettingsRow(percent_->accessibleName(), std::nullopt, [this] { return percent_; }));
    minFiles_ = field(text("Minimum deleted files"),
                      [](JobOptions& options, std::int64_t value) { options.deleteGuardMinFiles = value; });
    column->addWidget(new SettingsRow(minFiles_->accessibleName(),
                                      text("Review is required when both deletion limits are reached."),
                                      [this] { return minFiles_; }));
    refresh();
}

SyncJob ArchiveSafetySection::withKeepForever(SyncJob job, bool on) {
    if (on) {
        job.options.archiveRetentionDays.reset();
    } else {
        job.options.archiveRetentionDays = defaultRetentionDays;
    }
    return job;
}

bool ArchiveSafetySection::retentionOutOfRange(const JobOptions& options) {
    if (!options.archiveRetentionDays) {
        return false;
    }
    // Unsigned, so that the lowest 64-bit value wraps instead of overflowing.
    return static_cast<std::uint64_t>(*options.archiveRetentionDays) - 1u > 364u;
}

void ArchiveSafetySection::refresh() {
    const JobOptions& options = job().options;
    archive_->setChecked(options.archiveEnabled);
    keepForever_->setChecked(keepForever(options));
    retentionRow_->setVisible(!keepForever(options));
    retention_->setValue(options.archiveRetentionDays.value_or(defaultRetentionDays));
    message_->setVisible(retentionOutOfRange(options));
    message_->setText(strings().text(QStringLiteral("validation.retentionOutOfRange"), locale()));
    percent_->setValue(options.deleteGuardPercent);
    minFiles_->setValue(options.deleteGuardMinFiles);
}

}  // namespace kelto
