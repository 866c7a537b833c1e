#include "Kelto_Sync/Editor/IntervalTriggerEditor.h"

#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/Editor/EditorNote.h"
#include "Kelto_Sync/Editor/IntegerField.h"

#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <limits>

namespace kelto {

IntervalTriggerEditor::IntervalTriggerEditor(SyncStrings strings, Set set, QWidget* parent)
    : QWidget(parent), strings_(strings), set_(std::move(set)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    column->addLayout(row);

    lead_ = new QLabel(this);
    field_ = new IntegerField([this](std::int64_t value) { set_(value, unit_); }, this);
    field_->setFixedWidth(52);
    field_->setAlignment(Qt::AlignCenter);
    up_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_ = new QToolButton(this);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] {
        if (const auto next = incremented(value_)) {
            set_(*next, unit_);
        }
    });
    connect(down_, &QToolButton::clicked, this, [this] {
        if (const auto next = decremented(value_, unit_)) {
            set_(*next, unit_);
        }
    });
    unitPicker_ = new QComboBox(this);
    for (const IntervalUnit unit : IntervalUnits::allCases) {
        unitPicker_->addItem(QString(), static_cast<int>(unit));
    }
    connect(unitPicker_, &QComboBox::activated, this, [this](int index) {
        const auto unit = static_cast<IntervalUnit>(unitPicker_->itemData(index).toInt());
        set_(countForUnit(value_, unit), unit);
    });
    row->addWidget(lead_);
    row->addWidget(field_);
    row->addWidget(up_);
    row->addWidget(down_);
    row->addWidget(unitPicker_);
    row->addStretch(1);

    issue_ = new QLabel(this);
    PaletteTone::apply(issue_, FenraTheme::error());
    EditorNote::apply(issue_);
    column->addWidget(issue_);
    refresh();
}

void IntervalTriggerEditor::setInterval(std::int64_t value, IntervalUnit unit) {
    value_ = value;
    unit_ = unit;
    refresh();
}

std::optional<std::int64_t> IntervalTriggerEditor::incremented(std::int64_t value) {
    if (value == std::numeric_limits<std::int64_t>::max()) {
        return std::nullopt;
    }
    return value + 1;
}

std::optional<std::int64_t> IntervalTriggerEditor::decremented(std::int64_t value, IntervalUnit unit) {
    if (value < IntervalUnits::minimumCount(unit) + 1) {
        return std::nullopt;
    }
    return value - 1;
}

std::int64_t IntervalTriggerEditor::countForUnit(std::int64_t value, IntervalUnit unit) {
    return std::max(value, IntervalUnits::minimumCount(unit));
}

QString IntervalTriggerEditor::unitLabel(IntervalUnit unit) {
    switch (unit) {
    case IntervalUnit::minutes: return QStringLiteral("minutes");
    case IntervalUnit::hours: return QStringLiteral("hours");
    case IntervalUnit::days: return QStringLiteral("days");
    }
    return {};
}

void IntervalTriggerEditor::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) {
        refresh();
    }
}

void IntervalTriggerEditor::refresh() {
    const QLocale where = locale();
    const QString valueName = strings_.text(QStringLiteral("Interval value"), where);
    lead_->setText(strings_.text(QStringLiteral("Repeat every"), where));
    field_->setAccessibleName(valueName);
    up_->setAccessibleName(valueName);
    down_->setAccessibleName(valueName);
    unitPicker_->setAccessibleName(strings_.text(QStringLiteral("Interval unit"), where));
    for (int index = 0; index < unitPicker_->count(); ++index) {
        unitPicker_->setItemText(index, strings_.text(unitLabel(IntervalUnits::allCases[index]), where));
    }
    field_->setValue(value_);
    {
        const QSignalBlocker quiet(unitPicker_);
        unitPicker_->setCurrentIndex(unitPicker_->findData(static_cast<int>(unit_)));
    }
    const auto issue = Trigger::intervalIssue(value_, unit_);
    issue_->setVisible(issue.has_value());
    if (issue) {
        issue_->setText(strings_.computed("validation.", *issue, where));
    }
}

}  // namespace kelto
