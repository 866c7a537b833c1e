#include "Kelto_Sync/HistoryView.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/internal/HistoryRow.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>

namespace kelto {
HistoryView::HistoryView(AppModelAdapter& model, const Uuid& jobID, std::optional<int> recentLimit,
                         SyncStrings strings, StatusViewActions actions, const Clock& clock, QWidget* parent)
    : QWidget(parent),
      model_(&model),
      jobID_(jobID),
      recentLimit_(recentLimit),
      strings_(strings),
      actions_(std::move(actions)),
      clock_(&clock),
      latestRecord_(model.lastRecordID(jobID)),
      header_(new QLabel(this)),
      empty_(new QLabel(this)),
      errorLabel_(new QLabel(this)),
      rows_(new QWidget(this)),
      rowLayout_(new QVBoxLayout(rows_)) {
    header_->setObjectName(QStringLiteral("header"));
    header_->setFont(FenraFont::font(FontRole::headline));
    empty_->setObjectName(QStringLiteral("empty"));
    errorLabel_->setObjectName(QStringLiteral("error"));
    errorLabel_->setWordWrap(true);
    for (QLabel* label : {header_, empty_, errorLabel_}) label->setTextFormat(Qt::PlainText);
    PaletteTone::apply(empty_, FenraTheme::textSecondary());
    PaletteTone::apply(errorLabel_, FenraTheme::error());
    rowLayout_->setContentsMargins(0, 0, 0, 0);
    rowLayout_->setSpacing(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(header_);
    layout->addWidget(empty_);
    layout->addWidget(errorLabel_);
    layout->addWidget(rows_);

    connect(&model, &AppModelAdapter::lastRecordsChanged, this, &HistoryView::lastRecordsChanged);
    rebuild();
    scheduleLoad();
}

void HistoryView::lastRecordsChanged() {
    const std::optional<Uuid> latest = model_->lastRecordID(jobID_);
    if (latest == latestRecord_) return;  // another job's run
    latestRecord_ = latest;
    scheduleLoad();
}

void HistoryView::scheduleLoad() {
    const std::uint64_t generation = ++generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == generation_) load();
        },
        Qt::QueuedConnection);
}

void HistoryView::load() {
    try {
        records_ = model_->history(jobID_);
        error_.reset();
    } catch (...) {
        error_ = AppModelAdapter::describe(std::current_exception());
    }
    rebuild();
    emit loaded();
}

void HistoryView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) rebuild();
}

void HistoryView::rebuild() {
    const QLocale where = locale();
    header_->setText(strings_.text(recentLimit_ ? QStringLiteral("Recent") : QStringLiteral("History"), where));
    empty_->setText(strings_.text(QStringLiteral("Never run"), where));
    // A failed read says only that: the job may well have run.
    empty_->setVisible(records_.empty() && !error_);
    errorLabel_->setVisible(error_.has_value());
    if (error_) {
        errorLabel_->setText(*error_);
    }

    while (QLayoutItem* item = rowLayout_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const std::size_t shown =
        recentLimit_ ? std::min(records_.size(), static_cast<std::size_t>(std::max(*recentLimit_, 0))) : records_.size();
    for (std::size_t i = 0; i < shown; ++i) {
        rowLayout_->addWidget(new HistoryRow(records_[i], recentLimit_.has_value(), strings_, actions_, *clock_, rows_));
    }
}

}  // namespace kelto
