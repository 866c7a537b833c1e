#include "Kelto_Sync/Editor/TriggerRow.h"

#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "FenraCore/SymbolImage.h"
#include "Kelto_Sync/Editor/EditorLocale.h"
#include "Kelto_Sync/Editor/EditorNote.h"
#include "Kelto_Sync/Editor/IntervalTriggerEditor.h"
#include "Kelto_Sync/internal/PaletteFollower.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

namespace kelto {

namespace {

TimeOfDay timeOf(const Trigger& trigger) {
    if (const auto* daily = trigger.as<Trigger::Daily>()) return daily->at;
    if (const auto* weekly = trigger.as<Trigger::Weekly>()) return weekly->at;
    return {};
}

}  // namespace

TriggerRow::TriggerRow(Trigger::Kind kind, SyncStrings strings, std::function<void(Trigger)> replace,
                       std::function<void()> remove, QWidget* parent)
    : QWidget(parent), kind_(kind), strings_(strings), replace_(std::move(replace)) {
    const QLocale where = locale();
    const auto text = [&](const char* english) { return strings_.text(QString::fromUtf8(english), where); };
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    auto* editor = new QVBoxLayout;
    row->addLayout(editor);
    row->addStretch(1);

    const auto timeEdit = [&](const char* title) {
        auto* line = new QHBoxLayout;
        line->addWidget(new QLabel(text(title), this));
        time_ = new QTimeEdit(this);
        time_->setAccessibleName(text(title));
        time_->setDisplayFormat(EditorLocale::timeFormat(where));
        line->addWidget(time_);
        line->addStretch(1);
        editor->addLayout(line);
        connect(time_, &QTimeEdit::timeChanged, this, [this](const QTime& picked) {
            const TimeOfDay at{picked.hour(), picked.minute()};
            if (const auto* weekly = trigger_.as<Trigger::Weekly>()) {
                replace_(Trigger::weekly(weekly->weekdays, at));
            } else {
                replace_(Trigger::daily(at));
            }
        });
    };

    switch (kind) {
    case Trigger::Kind::onConnect: {
        auto* line = new QHBoxLayout;
        line->addWidget(new QLabel(text("On connect (10-second delay)"), this));
        action_ = new QComboBox(this);
        action_->setAccessibleName(text("On connect (10-second delay)"));
        action_->addItem(text("Run"), int(ConnectAction::run));
        action_->addItem(text("Ask"), int(ConnectAction::ask));
        connect(action_, &QComboBox::activated, this, [this](int index) {
            replace_(Trigger::onConnect(static_cast<ConnectAction>(action_->itemData(index).toInt())));
        });
        line->addWidget(action_);
        editor->addLayout(line);
        break;
    }
    case Trigger::Kind::every:
        interval_ = new IntervalTriggerEditor(strings_, [this](std::int64_t value, IntervalUnit unit) {
            replace_(Trigger::every(value, unit));
        }, this);
        editor->addWidget(interval_);
        break;
    case Trigger::Kind::daily:
        timeEdit("Daily at");
        break;
    case Trigger::Kind::weekly: {
        timeEdit("Weekly at");
        auto* days = new QHBoxLayout;
        for (std::int64_t day = 1; day <= 7; ++day) {
            auto* button = new QToolButton(this);
            button->setCheckable(true);
            button->setText(EditorLocale::weekdayName(day, QLocale::ShortFormat, where));
            button->setAccessibleName(EditorLocale::weekdayName(day, QLocale::LongFormat, where));
            connect(button, &QToolButton::clicked, this, [this, day](bool on) {
                const auto* weekly = trigger_.as<Trigger::Weekly>();
                std::set<std::int64_t> chosen = weekly->weekdays;
                if (on) {
                    chosen.insert(day);
                } else {
                    chosen.erase(day);
                }
                replace_(Trigger::weekly(std::move(chosen), weekly->at));
            });
            weekdays_[day - 1] = button;
            days->addWidget(button);
        }
        days->addStretch(1);
        editor->addLayout(days);
        message_ = new QLabel(text("Choose at least one weekday."), this);
        PaletteTone::apply(message_, FenraTheme::error());
        EditorNote::apply(message_);
        editor->addWidget(message_);
        break;
    }
    }

    remove_ = new QToolButton(this);
    PaletteFollower::follow(remove_, [](QWidget& drawn) {
        static_cast<QToolButton&>(drawn).setIcon(
            SymbolImage::icon(FenraIcon::remove, drawn.palette().color(QPalette::Active, QPalette::ButtonText)));
    });
    remove_->setToolTip(text("Remove trigger"));
    remove_->setAccessibleName(text("Remove trigger"));
    connect(remove_, &QToolButton::clicked, this, [remove = std::move(remove)] { remove(); });
    row->addWidget(remove_, 0, Qt::AlignTop);
}

void TriggerRow::setTrigger(const Trigger& trigger) {
    trigger_ = trigger;
    if (const auto* connect = trigger.as<Trigger::OnConnect>()) {
        const QSignalBlocker quiet(action_);
        action_->setCurrentIndex(action_->findData(int(connect->action)));
    }
    if (const auto* every = trigger.as<Trigger::Every>()) {
        interval_->setInterval(every->value, every->unit);
    }
    if (time_) {
        const TimeOfDay at = timeOf(trigger);
        const QTime shown = EditorLocale::time(at.hour, at.minute);
        if (time_->time().hour() != shown.hour() || time_->time().minute() != shown.minute()) {
            const QSignalBlocker quiet(time_);
            time_->setTime(shown);
        }
    }
    if (const auto* weekly = trigger.as<Trigger::Weekly>()) {
        for (std::int64_t day = 1; day <= 7; ++day) {
            weekdays_[day - 1]->setChecked(weekly->weekdays.contains(day));
        }
        message_->setVisible(weekly->weekdays.empty());
    }
}

}  // namespace kelto
