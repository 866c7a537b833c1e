#include "Kelto_Sync/Status/RunStatusView.h"

#include "FenraCore/BusyIndicator.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/LinearProgressBar.h"
#include "FenraCore/PaletteTone.h"
#include "FenraCore/SymbolImage.h"
#include "Kelto_Sync/DisplayFormat.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

#include <algorithm>
#include <cmath>

namespace kelto {

namespace {
constexpr int iconSide = 16;
}

RunStatusView::RunStatusView(RunStatus status, SyncStrings strings, QWidget* parent)
    : QWidget(parent), status_(std::move(status)), strings_(strings) {
    // A status is a caption beside the name it belongs to.
    setFont(FenraFont::font(FontRole::caption));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    icon_ = new IconLabel(this);
    icon_->setObjectName(QStringLiteral("runStatusIcon"));
    icon_->setFixedSize(iconSide, iconSide);
    spinner_ = new BusyIndicator(BusyIndicator::mini, this);
    spinner_->setObjectName(QStringLiteral("runStatusSpinner"));
    spinner_->setFixedSize(iconSide, iconSide);
    bar_ = new LinearProgressBar(this);
    bar_->setObjectName(QStringLiteral("runStatusBar"));
    bar_->setRange(0, 1000);
    PaletteTone::apply(bar_, FenraTheme::destructive(), QPalette::Highlight);
    text_ = new QLabel(this);
    text_->setObjectName(QStringLiteral("runStatusText"));
    text_->setTextFormat(Qt::PlainText);
    layout->addWidget(icon_);
    layout->addWidget(spinner_);
    layout->addWidget(bar_, 1);
    layout->addWidget(text_, 0);
    refresh();
}

void RunStatusView::setStatus(const RunStatus& status) {
    if (status == status_) return;
    status_ = status;
    refresh();
}

bool RunStatusView::showsBar(const RunStatus& status) {
    const auto* running = status.as<RunStatus::Running>();
    return running != nullptr && running->progress.phase == SyncPhase::transferring &&
           running->progress.fraction.has_value() && std::isfinite(*running->progress.fraction);
}

QString RunStatusView::text(const RunStatus& status, const SyncStrings& strings, const QLocale& locale) {
    switch (status.kind()) {
    case RunStatus::Kind::running: {
        const SyncProgress& progress = status.as<RunStatus::Running>()->progress;
        if (showsBar(status)) return DisplayFormat::percent(*progress.fraction, locale);
        return strings.computed("phase.", progress.phase, locale);
    }
    case RunStatus::Kind::awaitingConfirmation: return strings.text(QStringLiteral("Needs review"), locale);
    case RunStatus::Kind::queued: return strings.text(QStringLiteral("Queued"), locale);
    }
    return {};
}

void RunStatusView::refresh() {
    const bool bar = showsBar(status_);
    const bool running = status_.kind() == RunStatus::Kind::running;
    spinner_->setVisible(running && !bar);
    icon_->setVisible(!running || bar);
    const QColor tint = status_.kind() == RunStatus::Kind::awaitingConfirmation
                            ? FenraTheme::warning().color(palette())
                            : palette().color(QPalette::Active, QPalette::WindowText);
    const FenraIcon glyph = status_.kind() == RunStatus::Kind::awaitingConfirmation ? FenraIcon::warning : FenraIcon::sync;
    icon_->setIcon(SymbolImage::icon(glyph, tint));
    bar_->setVisible(bar);
    text_->setText(text(status_, strings_, locale()));
    if (bar) {
        const double fraction = std::clamp(*status_.as<RunStatus::Running>()->progress.fraction, 0.0, 1.0);
        bar_->setValue(static_cast<int>(std::lround(fraction * 1000)));
        // The application font's digits are of one width already. A live run
        // shows other statuses first, whose ignored width must not stay.
        text_->setFixedWidth(36);
        text_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
        text_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    } else {
        text_->setMinimumWidth(0);
        text_->setMaximumWidth(QWIDGETSIZE_MAX);
        text_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    static_cast<QHBoxLayout*>(layout())->setStretchFactor(text_, bar ? 0 : 1);
}

void RunStatusView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange || event->type() == QEvent::PaletteChange) refresh();
}

}  // namespace kelto
