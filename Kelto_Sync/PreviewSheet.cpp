#include "Kelto_Sync/PreviewSheet.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/PaletteTone.h"
#include "FenraCore/SymbolImage.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/internal/PlanDetailsModel.h"
#include "SyncAutomation/Async/MainExecutor.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

QLabel* plainLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

// One column of the count row: its caption above its figure.
QVBoxLayout* countColumn(QLabel* caption, QLabel* figure) {
    caption->setFont(FenraFont::font(FontRole::caption));
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    column->addWidget(caption);
    column->addWidget(figure);
    return column;
}

QPushButton* button(const char* name, QWidget* parent) {
    auto* result = new QPushButton(parent);
    result->setObjectName(QLatin1String(name));
    // Return presses only the default button, never one that happens to have focus.
    result->setAutoDefault(false);
    return result;
}

// Longer than a held key waits before it repeats (X's default is 660 ms).
constexpr std::uint64_t repeatGapMs = 1000;

bool isReturn(const QKeyEvent& event) { return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter; }

}  // namespace

PreviewSheet::PreviewSheet(SyncPlan plan, std::optional<QString> reason, SyncStrings strings,
                           std::function<void()> onContinue, std::function<void()> onCancel, QWidget* parent,
                           MainExecutor* timers)
    : QDialog(parent),
      reason_(std::move(reason)),
      strings_(strings),
      onContinue_(std::move(onContinue)),
      onCancel_(std::move(onCancel)),
      timers_(timers),
      skippedCount_(static_cast<std::int64_t>(plan.skipped.size())),
      conflictCount_(static_cast<std::int64_t>(plan.conflicts.size())),
      entryCountA_(plan.entryCountA),
      entryCountB_(plan.entryCountB),
      model_(new PlanDetailsModel(std::move(plan), strings, this)),
      title_(plainLabel("title", this)),
      notice_(plainLabel("notice", this)),
      copiesLabel_(plainLabel("copiesLabel", this)),
      archivedLabel_(plainLabel("archivedLabel", this)),
      skippedLabel_(plainLabel("skippedLabel", this)),
      conflictsLabel_(plainLabel("conflictsLabel", this)),
      copiesFigure_(plainLabel("copiesFigure", this)),
      archivedFigure_(plainLabel("archivedFigure", this)),
      skippedFigure_(plainLabel("skippedFigure", this)),
      conflictsFigure_(plainLabel("conflictsFigure", this)),
      detailsList_(new QFrame(this)),
      detailsToggle_(new QToolButton(detailsList_)),
      details_(new QTreeView(detailsList_)),
      filler_(new QSpacerItem(0, 0)) {
    setMinimumSize(minimumWidth, minimumHeight);
    auto* layout = new QVBoxLayout(this);

    title_->setFont(FenraFont::font(FontRole::title2));
    layout->addWidget(title_);
    notice_->setWordWrap(true);
    notice_->hide();
    layout->addWidget(notice_);

    // The row stays in place, empty without a reason, so one that arrives later fills it.
    reasonRow_ = new QHBoxLayout;
    layout->addLayout(reasonRow_);
    showReason();

    auto* counts = new QHBoxLayout;
    counts->setSpacing(20);
    counts->addLayout(countColumn(copiesLabel_, copiesFigure_));
    counts->addLayout(countColumn(archivedLabel_, archivedFigure_));
    counts->addLayout(countColumn(skippedLabel_, skippedFigure_));
    counts->addLayout(countColumn(conflictsLabel_, conflictsFigure_));
    counts->addStretch(1);
    layout->addLayout(counts);

    // "Details" is a list, and a list takes the room the sheet has, open or
    // closed: the disclosure row heads it, the tree of sections fills it.
    detailsList_->setObjectName(QStringLiteral("detailsList"));
    detailsList_->setFrameShape(QFrame::StyledPanel);
    detailsList_->setBackgroundRole(QPalette::Base);
    detailsList_->setAutoFillBackground(true);
    auto* detailsBox = new QVBoxLayout(detailsList_);
    detailsBox->setContentsMargins(4, 4, 4, 4);
    detailsBox->setSpacing(0);
    detailsToggle_->setObjectName(QStringLiteral("detailsToggle"));
    detailsToggle_->setCheckable(true);
    detailsToggle_->setAutoRaise(true);
    detailsToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(detailsToggle_, &QToolButton::clicked, this, [this](bool expanded) {
        detailsOverride_ = expanded;
        applyExpansion();
    });
    details_->setObjectName(QStringLiteral("details"));
    details_->setFrameShape(QFrame::NoFrame);
    details_->setModel(model_);
    details_->setHeaderHidden(true);
    details_->setUniformRowHeights(true);
    details_->setTextElideMode(Qt::ElideMiddle);
    details_->setRootIsDecorated(false);
    details_->setItemsExpandable(false);
    details_->header()->setStretchLastSection(false);
    details_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    details_->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    details_->expandAll();
    detailsBox->addWidget(detailsToggle_, 0, Qt::AlignLeft);
    detailsBox->addWidget(details_, 1);
    detailsBox->addSpacerItem(filler_);
    layout->addWidget(detailsList_, 1);

    buttons_ = new QHBoxLayout;
    QHBoxLayout* buttons = buttons_;
    buttons->addStretch(1);
    if (onContinue_) {
        cancel_ = button("cancel", this);
        continue_ = button("continue", this);
        continue_->setDefault(true);
        // Not on screen yet, so not yet read.
        acting_ = continue_;
        acting_->setEnabled(false);
        if (timers_ == nullptr) {
            readingTimer_ = new QTimer(this);
            readingTimer_->setSingleShot(true);
            readingTimer_->setInterval(static_cast<int>(readingSeconds * 1000));
            connect(readingTimer_, &QTimer::timeout, this, [this] { acting_->setEnabled(true); });
        }
        connect(cancel_, &QPushButton::clicked, this, [this] { onCancel_(); });
        connect(continue_, &QPushButton::clicked, this, [this] {
            if (!withdrawn_) onContinue_();
        });
        buttons->addWidget(cancel_);
        buttons->addWidget(continue_);
    } else {
        close_ = button("close", this);
        connect(close_, &QPushButton::clicked, this, [this] { onCancel_(); });
        buttons->addWidget(close_);
    }
    layout->addLayout(buttons);

    copiesFigure_->setText(QStringLiteral("%1 A\u2192B \u00B7 %2 B\u2192A")
                               .arg(model_->rows(PlanDetailsModel::copiesToB))
                               .arg(model_->rows(PlanDetailsModel::copiesToA)));
    const std::int64_t onA = model_->rows(PlanDetailsModel::archivesOnA);
    const std::int64_t onB = model_->rows(PlanDetailsModel::archivesOnB);
    archivedFigure_->setText(QStringLiteral("A: %1 (%2%) \u00B7 B: %3 (%4%)")
                                 .arg(onA)
                                 .arg(share(onA, entryCountA_))
                                 .arg(onB)
                                 .arg(share(onB, entryCountB_)));

    refreshTexts();
    refreshColours();
    applyExpansion();
}

void PreviewSheet::withdraw(std::function<void()> onSyncAgain) {
    if (withdrawn_ || !onContinue_) return;
    withdrawn_ = true;
    onSyncAgain_ = std::move(onSyncAgain);
    // The buttons that answered the run go; what can still be done comes.
    cancel_->hide();
    continue_->hide();
    continue_->setDefault(false);
    close_ = button("close", this);
    connect(close_, &QPushButton::clicked, this, [this] { onCancel_(); });
    buttons_->addWidget(close_);
    if (onSyncAgain_) {
        syncAgain_ = button("syncAgain", this);
        syncAgain_->setDefault(true);
        connect(syncAgain_, &QPushButton::clicked, this, [this] { onSyncAgain_(); });
        buttons_->addWidget(syncAgain_);
        // It stands where Continue stood: a press meant for that waits too.
        acting_ = syncAgain_;
    }
    // Made after the sheet is shown, they show only when told to.
    close_->show();
    if (syncAgain_ != nullptr) syncAgain_->show();
    notice_->show();
    refreshTexts();
    refreshColours();
    startReading();
}

void PreviewSheet::setReason(std::optional<QString> reason) {
    if (reason == reason_) return;
    reason_ = std::move(reason);
    showReason();
    refreshColours();
    applyExpansion();
    // What the user is to read has changed under them.
    startReading();
}

void PreviewSheet::showReason() {
    if (reason_ && reasonText_ == nullptr) {
        reasonIcon_ = new IconLabel(this);
        reasonIcon_->setObjectName(QStringLiteral("reasonIcon"));
        reasonText_ = plainLabel("reason", this);
        reasonText_->setWordWrap(true);
        reasonRow_->addWidget(reasonIcon_, 0, Qt::AlignTop);
        reasonRow_->addWidget(reasonText_, 1);
    }
    if (reasonText_ == nullptr) return;
    reasonText_->setText(reason_.value_or(QString()));
    reasonIcon_->setVisible(reason_.has_value());
    reasonText_->setVisible(reason_.has_value());
}

bool PreviewSheet::detailsExpanded() const {
    return detailsOverride_.value_or(onContinue_ || reason_.has_value());
}

long long PreviewSheet::share(std::int64_t archives, std::int64_t entries) {
    if (entries < 1) {
        return 0;
    }
    return std::llround(static_cast<double>(archives) / static_cast<double>(entries) * 100.0);
}

void PreviewSheet::startReading() {
    if (acting_ == nullptr || (withdrawn_ && acting_ == continue_)) return;
    acting_->setEnabled(false);
    reading_.cancel();
    if (readingTimer_ != nullptr) readingTimer_->stop();
    if (!onScreen_) return;
    if (timers_ != nullptr) {
        reading_ = timers_->postAfter(readingSeconds, [this] { acting_->setEnabled(true); });
    } else {
        readingTimer_->start();
    }
}

// The window system shows the sheet a little after it is told to, and
// takes it off screen when it is hidden or its window minimised: reading
// starts each time it is seen.
void PreviewSheet::followExposure() {
    const QWindow* handle = windowHandle();
    const bool exposed = handle != nullptr && handle->isExposed();
    if (exposed == onScreen_) return;
    onScreen_ = exposed;
    startReading();
}

bool PreviewSheet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose) followExposure();
    return QDialog::eventFilter(watched, event);
}

void PreviewSheet::keyPressEvent(QKeyEvent* event) {
    // A held Return is the press that began it, so one held from before the
    // sheet came cannot answer it later. Its repeats come as presses marked
    // so, as presses with no release between, or as a release and a press
    // of the same moment, which Qt does not always mark. Repeats follow
    // each other well within a second: a press later than that after the
    // last is a new one whose release went elsewhere.
    if (isReturn(*event)) {
        const std::uint64_t at = event->timestamp();
        const bool held = returnDown_ && (at == 0 || at - returnDownAt_ < repeatGapMs);
        const bool repeat = event->isAutoRepeat() || held || (at != 0 && at == returnUpAt_);
        returnDown_ = true;
        returnDownAt_ = at;
        if (repeat) {
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void PreviewSheet::keyReleaseEvent(QKeyEvent* event) {
    if (isReturn(*event)) {
        returnDown_ = false;
        returnUpAt_ = event->timestamp();
    }
    QDialog::keyReleaseEvent(event);
}

void PreviewSheet::reject() {
    onCancel_();
}

void PreviewSheet::closeEvent(QCloseEvent* event) {
    if (event->spontaneous()) {
        event->ignore();
        onCancel_();
    } else {
        event->accept();
    }
}

void PreviewSheet::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refreshTexts();
        applyExpansion();
    } else if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        refreshColours();
        if (event->type() == QEvent::FontChange) applyExpansion();
    }
}

void PreviewSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Opened, it keeps its size, as the other sheets do: the list inside
    // scrolls, and a window manager draws no resize handle along its
    // bottom edge.
    if (minimumSize() != maximumSize()) setFixedSize(size().expandedTo(minimumSize()));
    // The screen, and with it the pixel ratio of the warning symbol, is known once shown.
    refreshColours();
    if (QWindow* handle = windowHandle()) handle->installEventFilter(this);
    followExposure();
}

void PreviewSheet::refreshTexts() {
    const QLocale where = locale();
    const QString title = strings_.text(onContinue_ ? QStringLiteral("Needs review") : QStringLiteral("Preview"), where);
    title_->setText(title);
    setWindowTitle(title);
    copiesLabel_->setText(strings_.text(QStringLiteral("Copies"), where));
    archivedLabel_->setText(strings_.text(QStringLiteral("Archived"), where));
    skippedLabel_->setText(strings_.text(QStringLiteral("Skipped"), where));
    conflictsLabel_->setText(strings_.text(QStringLiteral("Conflicts"), where));
    skippedFigure_->setText(DisplayFormat::integer(skippedCount_, where));
    conflictsFigure_->setText(DisplayFormat::integer(conflictCount_, where));
    detailsToggle_->setText(strings_.text(QStringLiteral("Details"), where));
    if (onContinue_) {
        cancel_->setText(strings_.text(QStringLiteral("Cancel"), where));
        continue_->setText(strings_.text(QStringLiteral("Continue"), where));
    }
    if (close_ != nullptr) close_->setText(strings_.text(QStringLiteral("Close"), where));
    if (syncAgain_ != nullptr) syncAgain_->setText(strings_.text(QStringLiteral("Sync again"), where));
    notice_->setText(strings_.text(
        QStringLiteral("This run is no longer waiting for review: nothing will be continued. Sync again for a fresh review."),
        where));
    model_->retranslate(where);
}

void PreviewSheet::refreshColours() {
    const QPalette current = palette();
    // The sheet's controls take the accent tint.
    for (QWidget* control :
         std::initializer_list<QWidget*>{detailsList_, details_, detailsToggle_, cancel_, continue_, close_, syncAgain_}) {
        if (control != nullptr) PaletteTone::apply(control, FenraTheme::accent(), QPalette::Highlight);
    }
    for (QLabel* caption : {copiesLabel_, archivedLabel_, skippedLabel_, conflictsLabel_}) {
        PaletteTone::apply(caption, FenraTheme::textSecondary());
    }
    if (reasonIcon_ != nullptr) {
        const int side = reasonText_->fontMetrics().height();
        const QIcon icon = SymbolImage::icon(FenraIcon::warning, FenraTheme::warning().color(current));
        reasonIcon_->setFixedSize(side, side);
        reasonIcon_->setIcon(icon);
    }
}

void PreviewSheet::applyExpansion() {
    const bool expanded = detailsExpanded();
    detailsToggle_->setChecked(expanded);
    detailsToggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    details_->setVisible(expanded);
    // Closed, the list stays as large, empty under its disclosure row.
    filler_->changeSize(0, 0, QSizePolicy::Minimum, expanded ? QSizePolicy::Fixed : QSizePolicy::Expanding);
    detailsList_->layout()->invalidate();
}

}  // namespace kelto
