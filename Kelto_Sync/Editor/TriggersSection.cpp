#include "Kelto_Sync/Editor/TriggersSection.h"

#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/Editor/EditorNote.h"
#include "Kelto_Sync/Editor/TriggerRow.h"
#include "Kelto_Sync/SecondaryText.h"

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace kelto {

TriggersSection::TriggersSection(SyncStrings strings, Report report, QWidget* parent)
    : EditorSection(strings, std::move(report), parent) {
    auto* column = new QVBoxLayout(this);
    auto* header = new QLabel(text("Triggers"), this);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    column->addWidget(header);
    auto* note = new QLabel(text("Manual Sync now is always available."), this);
    SecondaryText::apply(note);
    EditorNote::apply(note);
    column->addWidget(note);
    rowsLayout_ = new QVBoxLayout;
    column->addLayout(rowsLayout_);

    add_ = new QPushButton(text("Add trigger"), this);
    auto* menu = new QMenu(add_);
    const std::pair<const char*, Trigger::Kind> entries[] = {{"On connect", Trigger::Kind::onConnect},
                                                             {"Every…", Trigger::Kind::every},
                                                             {"Daily", Trigger::Kind::daily},
                                                             {"Weekly", Trigger::Kind::weekly}};
    for (const auto& [title, kind] : entries) {
        connect(menu->addAction(text(title)), &QAction::triggered, this, [this, kind = kind] {
            SyncJob next = job();
            next.triggers.push_back(added(kind));
            this->report(next);
        });
    }
    add_->setMenu(menu);
    column->addWidget(add_, 0, Qt::AlignLeft);

    const auto switchRow = [&](const char* title, bool JobOptions::*option) {
        auto* box = new QCheckBox;
        box->setAccessibleName(text(title));
        connect(box, &QCheckBox::clicked, this, [this, option](bool on) {
            SyncJob next = job();
            next.options.*option = on;
            this->report(next);
        });
        column->addWidget(new SettingsRow(box->accessibleName(), std::nullopt, [box] { return box; }));
        return box;
    };
    battery_ = switchRow("Skip automatic runs on battery power", &JobOptions::skipOnBattery);
    eject_ = switchRow("Eject when done", &JobOptions::ejectWhenDone);
    refresh();
}

Trigger TriggersSection::added(Trigger::Kind kind) {
    switch (kind) {
    case Trigger::Kind::onConnect: return Trigger::onConnect(ConnectAction::run);
    case Trigger::Kind::every: return Trigger::every(1, IntervalUnit::hours);
    case Trigger::Kind::daily: return Trigger::daily({9, 0});
    case Trigger::Kind::weekly: break;
    }
    return Trigger::weekly({2}, {9, 0});
}

SyncJob TriggersSection::replaced(SyncJob job, std::size_t index, Trigger trigger) {
    if (index < job.triggers.size()) job.triggers[index] = std::move(trigger);
    return job;
}

SyncJob TriggersSection::removed(SyncJob job, std::size_t index) {
    if (index < job.triggers.size()) job.triggers.erase(job.triggers.begin() + static_cast<std::ptrdiff_t>(index));
    return job;
}

void TriggersSection::refresh() {
    const std::vector<Trigger>& triggers = job().triggers;
    for (std::size_t index = 0; index < triggers.size(); ++index) {
        if (index < rows_.size() && rows_[index]->kind() == triggers[index].kind()) {
            rows_[index]->setTrigger(triggers[index]);
            continue;
        }
        auto* row = new TriggerRow(
            triggers[index].kind(), strings(),
            [this, index](Trigger trigger) { this->report(replaced(job(), index, std::move(trigger))); },
            [this, index] { this->report(removed(job(), index)); }, this);
        row->setTrigger(triggers[index]);
        if (index < rows_.size()) {
            // The old row may be the one whose button is being handled.
            delete rowsLayout_->replaceWidget(rows_[index], row);
            rows_[index]->hide();
            rows_[index]->deleteLater();
            rows_[index] = row;
        } else {
            rowsLayout_->addWidget(row);
            rows_.push_back(row);
        }
    }
    while (rows_.size() > triggers.size()) {
        rowsLayout_->removeWidget(rows_.back());
        rows_.back()->hide();
        rows_.back()->deleteLater();
        rows_.pop_back();
    }
    battery_->setChecked(job().options.skipOnBattery);
    eject_->setChecked(job().options.ejectWhenDone);
}

}  // namespace kelto
