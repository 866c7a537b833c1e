#include "Kelto_Sync/Status/JobStatusSlot.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/SymbolImage.h"
#include "Kelto_Sync/RunOutcomeDisplay.h"
#include "Kelto_Sync/Status/RunStatusView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace kelto {

namespace {
constexpr int slotHeight = 18;
constexpr int iconSide = 16;
const QString pausedTip = QStringLiteral("Automatic runs are paused. You can still sync manually.");
}  // namespace

JobStatusSlot::JobStatusSlot(std::optional<RunStatus> status, bool enabled, std::optional<RunOutcome> outcome,
                             SyncStrings strings, QWidget* parent)
    : QWidget(parent), status_(std::move(status)), enabled_(enabled), outcome_(std::move(outcome)), strings_(strings) {
    setFixedHeight(slotHeight);
    // The caption font, under the job's name in the body font.
    setFont(FenraFont::font(FontRole::caption));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    still_ = new QWidget(this);
    auto* still = new QHBoxLayout(still_);
    still->setContentsMargins(0, 0, 0, 0);
    still->setSpacing(4);
    glyph_ = new IconLabel(still_);
    glyph_->setObjectName(QStringLiteral("slotGlyph"));
    glyph_->setFixedSize(iconSide, iconSide);
    text_ = new QLabel(still_);
    text_->setObjectName(QStringLiteral("slotCaption"));
    text_->setTextFormat(Qt::PlainText);
    text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    still->addWidget(glyph_);
    still->addWidget(text_, 1);
    layout->addWidget(still_);
    refresh();
}

void JobStatusSlot::setValues(std::optional<RunStatus> status, bool enabled, std::optional<RunOutcome> outcome) {
    if (status == status_ && enabled == enabled_ && outcome == outcome_) return;
    status_ = std::move(status);
    enabled_ = enabled;
    outcome_ = std::move(outcome);
    refresh();
}

QString JobStatusSlot::caption(const std::optional<RunStatus>& status, bool enabled,
                               const std::optional<RunOutcome>& outcome, const SyncStrings& strings,
                               const QLocale& locale) {
    if (status) return RunStatusView::text(*status, strings, locale);
    if (!enabled) return strings.text(QStringLiteral("Paused"), locale);
    if (outcome) return strings.text(RunOutcomeDisplay::title(*outcome), locale);
    return strings.text(QStringLiteral("Never run"), locale);
}

void JobStatusSlot::refresh() {
    if (status_) {
        if (statusView_ == nullptr) {
            statusView_ = new RunStatusView(*status_, strings_, this);
            layout()->addWidget(statusView_);
        } else {
            statusView_->setStatus(*status_);
        }
        still_->hide();
        setToolTip({});
        return;
    }
    delete statusView_;
    statusView_ = nullptr;
    still_->show();
    FenraIcon glyph = FenraIcon::info;
    QColor tint = FenraTheme::info().color(palette());
    if (!enabled_) {
        glyph = FenraIcon::paused;
        tint = palette().color(QPalette::Active, QPalette::WindowText);
    } else if (outcome_) {
        glyph = RunOutcomeDisplay::icon(*outcome_);
        tint = RunOutcomeDisplay::iconColor(*outcome_).color(palette());
    }
    glyph_->setProperty("symbol", symbolName(glyph));
    glyph_->setProperty("tint", tint);
    glyph_->setIcon(SymbolImage::icon(glyph, tint));
    text_->setText(caption());
    setToolTip(enabled_ ? QString() : strings_.text(pausedTip, locale()));
}

void JobStatusSlot::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) refresh();
}

}  // namespace kelto
