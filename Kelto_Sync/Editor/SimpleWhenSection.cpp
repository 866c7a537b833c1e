#include "Kelto_Sync/Editor/SimpleWhenSection.h"

#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/Editor/EditorLocale.h"
#include "Kelto_Sync/Editor/EditorNote.h"
#include "Kelto_Sync/Editor/IntervalTriggerEditor.h"
#include "Kelto_Sync/SecondaryText.h"
#include "SyncModel/JobPresentation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kelto {

namespace {

bool isTimed(const Trigger& trigger) { return trigger.kind() != Trigger::Kind::onConnect; }

// The time a daily or weekly trigger keeps; anything else starts at 09:00.
TimeOfDay keptTime(const std::optional<Trigger>& timed) {
    if (timed) {
        if (const auto* daily = timed->as<Trigger::Daily>()) return daily->at;
        if (const auto* weekly = timed->as<Trigger::Weekly>()) return weekly->at;
    }
    return SimpleWhenSection::defaultTime;
}

std::set<std::int64_t> keptWeekdays(const std::optional<Trigger>& timed) {
    if (timed) {
        if (const auto* weekly = timed->as<Trigger::Weekly>()) return weekly->weekdays;
    }
    return {SimpleWhenSection::defaultWeekday};
}

}  // namespace

SimpleWhenSection::SimpleWhenSection(SyncStrings strings, Report report, std::function<void()> editAdvanced,
                                     QWidget* parent)
    : EditorSection(strings, std::move(report), parent), editAdvanced_(std::move(editAdvanced)) {
    auto* column = new QVBoxLayout(this);

    lines_ = new QWidget(this);
    linesLayout_ = new QVBoxLayout(lines_);
    linesLayout_->setContentsMargins(0, 0, 0, 0);
    editAdvancedButton_ = new QPushButton(text("Edit in Advanced"), this);
    editAdvancedButton_->setVisible(false);
    connect(editAdvancedButton_, &QPushButton::clicked, this, [this] {
        if (editAdvanced_) editAdvanced_();
    });
    column->addWidget(lines_);
    column->addWidget(editAdvancedButton_, 0, Qt::AlignLeft);

    simple_ = new QWidget(this);
    simpleLayout_ = new QVBoxLayout(simple_);
    simpleLayout_->setContentsMargins(0, 0, 0, 0);
    column->addWidget(simple_);

    schedule_ = new QComboBox;
    // Its texts arrive with the job, after the first layout.
    schedule_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    schedule_->addItem(QString(), int(none));
    schedule_->addItem(QString(), int(daily));
    schedule_->addItem(QString(), int(weekly));
    schedule_->addItem(QString(), int(every));
    connect(schedule_, &QComboBox::activated, this, [this](int index) {
        this->report(withSchedule(job(), static_cast<Schedule>(schedule_->itemData(index).toInt())));
    });
    simpleLayout_->addWidget(new SettingsRow(text("Schedule"), std::nullopt, [this] { return schedule_; }));

    interval_ = new IntervalTriggerEditor(strings, [this](std::int64_t value, IntervalUnit unit) {
        this->report(withTimedTrigger(job(), Trigger::every(value, unit)));
    });
    simpleLayout_->addWidget(interval_);

    time_ = new QTimeEdit;
    connect(time_, &QTimeEdit::timeChanged, this, [this](const QTime& picked) {
        this->report(withTime(job(), TimeOfDay{picked.hour(), picked.minute()}));
    });
    timeRow_ = new SettingsRow(text("Time"), std::nullopt, [this] { return time_; });
    simpleLayout_->addWidget(timeRow_);

    weekdayRow_ = new QWidget(simple_);
    auto* days = new QHBoxLayout(weekdayRow_);
    days->setContentsMargins(0, 0, 0, 0);
    days->setSpacing(4);
    for (std::int64_t day = 1; day <= 7; ++day) {
        auto* button = new QToolButton(weekdayRow_);
        button->setCheckable(true);
        connect(button, &QToolButton::clicked, this, [this, day](bool on) { this->report(withWeekday(job(), day, on)); });
        weekdays_[day - 1] = button;
        days->addWidget(button);
    }
    days->addStretch(1);
    simpleLayout_->addWidget(weekdayRow_);

    weekdayMessage_ = new QLabel(this);
    PaletteTone::apply(weekdayMessage_, FenraTheme::error());
    EditorNote::apply(weekdayMessage_);
    column->addWidget(weekdayMessage_);
    note_ = new QLabel(this);
    note_->setTextFormat(Qt::PlainText);
    SecondaryText::apply(note_);
    EditorNote::apply(note_);
    column->addWidget(note_);
    refresh();
}

std::optional<Trigger> SimpleWhenSection::timedTrigger(const std::vector<Trigger>& triggers) {
    const auto found = std::find_if(triggers.begin(), triggers.end(), isTimed);
    if (found == triggers.end()) return std::nullopt;
    return *found;
}

QString SimpleWhenSection::deviceNames(const SyncJob& job) {
    QStringList names;
    for (const Endpoint* side : {&job.source, &job.destination}) {
        if (side->volume.kind == VolumeKind::internal) continue;
        const QString name = QString::fromStdString(side->volume.name);
        if (!names.contains(name)) names << name;
    }
    names.removeAll(QString());
    return names.join(QStringLiteral(", "));
}

bool SimpleWhenSection::runsOnConnect(const std::vector<Trigger>& triggers) {
    return std::find(triggers.begin(), triggers.end(), Trigger::onConnect(ConnectAction::run)) != triggers.end();
}

SimpleWhenSection::Schedule SimpleWhenSection::schedule(const std::vector<Trigger>& triggers) {
    const auto timed = timedTrigger(triggers);
    if (!timed) return none;
    switch (timed->kind()) {
    case Trigger::Kind::daily: return daily;
    case Trigger::Kind::weekly: return weekly;
    case Trigger::Kind::every: return every;
    case Trigger::Kind::onConnect: break;
    }
    return none;
}

SyncJob SimpleWhenSection::withRunsOnConnect(SyncJob job, bool on) {
    if (!JobPresentation::hasSimpleTriggers(job.triggers)) return job;
    std::erase_if(job.triggers, [](const Trigger& trigger) { return !isTimed(trigger); });
    if (on) job.triggers.push_back(Trigger::onConnect(ConnectAction::run));
    return job;
}

SyncJob SimpleWhenSection::withTimedTrigger(SyncJob job, const std::optional<Trigger>& timed) {
    if (!JobPresentation::hasSimpleTriggers(job.triggers)) return job;
    std::erase_if(job.triggers, isTimed);
    if (timed) job.triggers.push_back(*timed);
    return job;
}

SyncJob SimpleWhenSection::withSchedule(const SyncJob& job, Schedule schedule) {
    const auto timed = timedTrigger(job.triggers);
    switch (schedule) {
    case every: return withTimedTrigger(job, Trigger::every(1, IntervalUnit::hours));
    case weekly: return withTimedTrigger(job, Trigger::weekly(keptWeekdays(timed), keptTime(timed)));
    case daily: return withTimedTrigger(job, Trigger::daily(keptTime(timed)));
    case none: break;
    }
    return withTimedTrigger(job, std::nullopt);
}

SyncJob SimpleWhenSection::withTime(const SyncJob& job, TimeOfDay time) {
    const auto timed = timedTrigger(job.triggers);
    if (timed && timed->kind() == Trigger::Kind::daily) return withTimedTrigger(job, Trigger::daily(time));
    return withTimedTrigger(job, Trigger::weekly(keptWeekdays(timed), time));
}

SyncJob SimpleWhenSection::withWeekday(const SyncJob& job, std::int64_t day, bool on) {
    const auto timed = timedTrigger(job.triggers);
    std::set<std::int64_t> days = keptWeekdays(timed);
    if (on) {
        days.insert(day);
    } else {
        days.erase(day);
    }
    return withTimedTrigger(job, Trigger::weekly(std::move(days), keptTime(timed)));
}

bool SimpleWhenSection::weekdayIsOn(const std::vector<Trigger>& triggers, std::int64_t day) {
    return keptWeekdays(timedTrigger(triggers)).contains(day);
}

QString SimpleWhenSection::triggerLine(const Trigger& trigger, const SyncStrings& strings, const QLocale& locale) {
    const auto text = [&](const char* english) { return strings.text(QString::fromUtf8(english), locale); };
    const auto format = [&](const char* english, const QVariantList& values) {
        return strings.format(QString::fromUtf8(english), values, locale);
    };
    if (const auto* connect = trigger.as<Trigger::OnConnect>()) {
        return connect->action == ConnectAction::ask ? text("On connect: Ask") : text("On connect: Run");
    }
    if (const auto* every = trigger.as<Trigger::Every>()) {
        const bool one = every->value == 1;
        switch (every->unit) {
        case IntervalUnit::minutes: return one ? text("Every minute") : format("Every %lld minutes", {qlonglong(every->value)});
        case IntervalUnit::hours: return one ? text("Every hour") : format("Every %lld hours", {qlonglong(every->value)});
        case IntervalUnit::days: return one ? text("Every day") : format("Every %lld days", {qlonglong(every->value)});
        }
    }
    if (const auto* daily = trigger.as<Trigger::Daily>()) {
        return format("Daily at %@", {EditorLocale::shortTime(daily->at.hour, daily->at.minute, locale)});
    }
    const auto& weekly = *trigger.as<Trigger::Weekly>();
    return format("Weekly: %@ at %@", {EditorLocale::dayList(weekly.weekdays, locale),
                                       EditorLocale::shortTime(weekly.at.hour, weekly.at.minute, locale)});
}

void SimpleWhenSection::refreshOnConnectRow() {
    const QString devices = deviceNames(job());
    const QString title = devices.isEmpty() ? QString() : format("When %@ is connected", {devices});
    if (title != onConnectTitle_) {
        // A row's title is fixed when it is made; a new device name makes a new row.
        delete onConnectRow_;
        onConnectRow_ = nullptr;
        onConnect_ = nullptr;
        onConnectTitle_ = title;
        if (!title.isEmpty()) {
            onConnect_ = new QCheckBox;
            onConnect_->setAccessibleName(title);
            connect(onConnect_, &QCheckBox::clicked, this, [this](bool on) { this->report(withRunsOnConnect(job(), on)); });
            onConnectRow_ = new SettingsRow(title, std::nullopt, [this] { return onConnect_; });
            simpleLayout_->insertWidget(0, onConnectRow_);
        }
    }
    if (onConnect_) onConnect_->setChecked(runsOnConnect(job().triggers));
}

void SimpleWhenSection::refresh() {
    const std::vector<Trigger>& triggers = job().triggers;
    const bool simple = JobPresentation::hasSimpleTriggers(triggers);
    simple_->setVisible(simple);
    lines_->setVisible(!simple);
    editAdvancedButton_->setVisible(!simple && editAdvanced_);
    while (QLayoutItem* item = linesLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (!simple) {
        for (const Trigger& trigger : triggers) {
            auto* line = new QLabel(triggerLine(trigger, strings(), locale()), lines_);
            line->setTextFormat(Qt::PlainText);
            SecondaryText::apply(line);
            linesLayout_->addWidget(line);
        }
    }

    refreshOnConnectRow();
    const QStringList labels{text("None"), text("Daily at"), text("Weekly on"), text("Every")};
    for (int index = 0; index < schedule_->count(); ++index) schedule_->setItemText(index, labels[index]);
    schedule_->setAccessibleName(text("Schedule"));
    const Schedule current = schedule(triggers);
    {
        const QSignalBlocker quiet(schedule_);
        schedule_->setCurrentIndex(schedule_->findData(int(current)));
    }
    const auto timed = timedTrigger(triggers);
    interval_->setVisible(current == every);
    if (const auto* interval = timed ? timed->as<Trigger::Every>() : nullptr) {
        interval_->setInterval(interval->value, interval->unit);
    }
    timeRow_->setVisible(current == daily || current == weekly);
    time_->setAccessibleName(text("Time"));
    time_->setDisplayFormat(EditorLocale::timeFormat(locale()));
    const TimeOfDay kept = keptTime(timed);
    const QTime shown = EditorLocale::time(kept.hour, kept.minute);
    if (time_->time().hour() != shown.hour() || time_->time().minute() != shown.minute()) {
        const QSignalBlocker quiet(time_);
        time_->setTime(shown);
    }
    weekdayRow_->setVisible(current == weekly);
    for (std::int64_t day = 1; day <= 7; ++day) {
        QToolButton* button = weekdays_[day - 1];
        button->setText(EditorLocale::weekdayName(day, QLocale::NarrowFormat, locale()));
        button->setToolTip(EditorLocale::weekdayName(day, QLocale::LongFormat, locale()));
        button->setAccessibleName(button->toolTip());
        button->setChecked(weekdayIsOn(triggers, day));
    }

    const bool emptyWeekly = std::any_of(triggers.begin(), triggers.end(), [](const Trigger& trigger) {
        const auto* weekly = trigger.as<Trigger::Weekly>();
        return weekly && weekly->weekdays.empty();
    });
    weekdayMessage_->setVisible(emptyWeekly);
    weekdayMessage_->setText(text("Choose at least one weekday."));
    note_->setText(text("Sync now is always available."));
}

}  // namespace kelto
