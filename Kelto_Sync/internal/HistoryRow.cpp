#include "Kelto_Sync/internal/HistoryRow.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraLabel.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/RelativeTimestamp.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/RevealFailureAlert.h"
#include "Kelto_Sync/RunOutcomeDisplay.h"
#include "Kelto_Sync/internal/FittingBox.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kelto {
namespace {

QLabel* plainLabel(const QString& text, const char* name, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// Permission failures read this way in rsync's messages; the case matters.
bool lacksPermission(const RunStats& stats) {
    return std::any_of(stats.errors.begin(), stats.errors.end(), [](const std::string& message) {
        return message.find("Operation not permitted") != std::string::npos;
    });
}

}  // namespace

HistoryRow::HistoryRow(const RunRecord& record, bool absoluteTime, const SyncStrings& strings,
                       const StatusViewActions& actions, const Clock& clock, QWidget* parent)
    : QWidget(parent), disclosure_(new QToolButton(this)), details_(nullptr) {
    setObjectName(QStringLiteral("row"));
    const QLocale where = parent != nullptr ? parent->locale() : locale();

    disclosure_->setObjectName(QStringLiteral("disclosure"));
    disclosure_->setCheckable(true);
    disclosure_->setAutoRaise(true);
    disclosure_->setArrowType(Qt::RightArrow);

    auto* outcome = new FenraLabel(strings.text(RunOutcomeDisplay::title(record.outcome), where),
                                   RunOutcomeDisplay::icon(record.outcome), this);
    outcome->setObjectName(QStringLiteral("outcome"));
    // The outcome's colour is its icon's; the title keeps the row's.
    PaletteTone::apply(outcome, RunOutcomeDisplay::iconColor(record.outcome));
    outcome->tintSymbolOnly();

    auto* caption = new FittingBox(8, 4, this);
    caption->setObjectName(QStringLiteral("caption"));
    caption->setFont(FenraFont::font(FontRole::caption));
    PaletteTone::apply(caption, FenraTheme::textSecondary());
    QLabel* trigger = plainLabel(strings.computed("trigger.", record.trigger, where), "trigger", caption);
    trigger->setWordWrap(false);
    caption->addWidget(trigger);
    QLabel* end = nullptr;
    if (absoluteTime) {
        end = plainLabel(DisplayFormat::dateTime(record.endedAt, where), "endTime", caption);
    } else {
        end = new RelativeTimestamp(record.endedAt, clock, caption);
        end->setObjectName(QStringLiteral("endTime"));
    }
    end->setWordWrap(false);
    caption->addWidget(end);

    auto* label = new QVBoxLayout;
    label->setSpacing(4);
    label->addWidget(outcome);
    label->addWidget(caption);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->addWidget(disclosure_, 0, Qt::AlignTop);
    header->addLayout(label, 1);

    details_ = buildDetails(record, strings, actions);
    details_->setVisible(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->addLayout(header);
    layout->addWidget(details_);

    connect(disclosure_, &QToolButton::toggled, this, &HistoryRow::setExpanded);
}

bool HistoryRow::expanded() const {
    return disclosure_->isChecked();
}

void HistoryRow::setExpanded(bool expanded) {
    disclosure_->setChecked(expanded);
    disclosure_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    details_->setVisible(expanded);
}

QWidget* HistoryRow::buildDetails(const RunRecord& record, const SyncStrings& strings,
                                  const StatusViewActions& actions) {
    auto* details = new QWidget(this);
    details->setObjectName(QStringLiteral("details"));
    const QLocale where = parentWidget() != nullptr ? parentWidget()->locale() : locale();
    auto* layout = new QVBoxLayout(details);
    layout->setContentsMargins(24, 2, 0, 2);
    layout->setSpacing(4);
    auto add = [&](const QString& text, const char* name) {
        QLabel* label = plainLabel(text, name, details);
        layout->addWidget(label);
        return label;
    };
    const RunStats& stats = record.stats;
    add(strings.count(QStringLiteral("Copied: %lld files, %@"), qlonglong(stats.filesCopied),
                      {DisplayFormat::bytes(stats.bytesCopied, where)}, where),
        "copied");
    add(strings.count(QStringLiteral("Archived: %lld files"), qlonglong(stats.filesArchived), {}, where), "archived");
    for (const SkippedFile& skipped : stats.skipped) {
        add(QString::fromStdString(skipped.path) + QStringLiteral("  ") +
                strings.computed("fileSkip.", skipped.reason, where),
            "skippedFile");
    }
    for (const std::string& message : RunOutcomeDisplay::errorsBesideMessage(record.outcome, stats)) {
        add(QString::fromStdString(message), "errorMessage")
            ->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    }
    switch (record.outcome.kind) {
    case RunOutcome::Case::failed: add(QString::fromStdString(record.outcome.message), "failure"); break;
    case RunOutcome::Case::skipped:
        add(strings.text(RunOutcomeDisplay::skipReason(record.outcome.skipReason), where), "skipReason");
        break;
    case RunOutcome::Case::needsReview: add(QString::fromStdString(record.outcome.message), "review"); break;
    default: break;
    }
    auto button = [&](const QString& title, const char* name, std::function<void()> act) {
        auto* pushed = new QPushButton(strings.text(title, where), details);
        pushed->setObjectName(QLatin1String(name));
        connect(pushed, &QPushButton::clicked, pushed, [act = std::move(act)] { act(); });
        layout->addWidget(pushed, 0, Qt::AlignLeft);
    };
    if (actions.grantFullDiskAccess && lacksPermission(stats)) {
        button(QStringLiteral("Grant Full Disk Access"), "grantFullDiskAccess", actions.grantFullDiskAccess);
    }
    add(strings.text(QStringLiteral("Started"), where) + QStringLiteral("  ") +
            DisplayFormat::dateTime(record.startedAt, where),
        "started");
    add(strings.text(QStringLiteral("Ended"), where) + QStringLiteral("  ") +
            DisplayFormat::dateTime(record.endedAt, where),
        "ended");
    if (record.logPath && actions.reveal) {
        const QString path = QString::fromStdString(*record.logPath);
        // A failure shows under the button until its alert is answered or the next press.
        const QString failure = strings.text(QStringLiteral("No file manager could show the log."), where);
        QLabel* failed = plainLabel(failure, "showLogFailed", details);
        PaletteTone::apply(failed, FenraTheme::error());
        failed->hide();
        button(QStringLiteral("Show log"), "showLog",
               [reveal = actions.reveal, path, strings, failure, failed = QPointer<QLabel>(failed)] {
                   failed->hide();
                   reveal(path, [path, strings, failure, failed](bool shown) {
                       if (!failed) return;
                       failed->setVisible(!shown);
                       if (shown) return;
                       AlertBox* alert = RevealFailureAlert::present(*failed, strings, failure, {path});
                       // Answered, the failure is told: nothing of it stays under the button.
                       QObject::connect(alert, &QDialog::finished, failed, &QWidget::hide);
                   });
               });
        layout->addWidget(failed);
    }
    return details;
}

}  // namespace kelto
