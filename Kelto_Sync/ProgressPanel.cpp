#include "Kelto_Sync/ProgressPanel.h"

#include "FenraCore/BusyIndicator.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/LinearProgressBar.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/internal/MiddleElidedLabel.h"
#include "Kelto_Sync/internal/TransferFiguresLayout.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <optional>

namespace kelto {
namespace {

constexpr int barSteps = 10000;

// A rate or time left as whole units, counted toward zero. A value that is
// not finite or does not fit in 64 bits has no whole form, and casting it
// would be undefined behaviour: it is left out instead.
std::optional<qlonglong> wholeNumber(const std::optional<double>& value) {
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (!value || !std::isfinite(*value) || *value >= limit || *value < -limit) {
        return std::nullopt;
    }
    return static_cast<qlonglong>(*value);
}

QLabel* figureLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    return label;
}

}  // namespace

ProgressPanel::ProgressPanel(SyncStrings strings, std::function<void()> stop, QWidget* parent)
    : QWidget(parent),
      strings_(strings),
      stop_(std::move(stop)),
      phase_(figureLabel("phase", this)),
      percent_(figureLabel("percent", this)),
      bar_(new LinearProgressBar(this)),
      busy_(new BusyIndicator(BusyIndicator::small, this)),
      scanned_(figureLabel("scanned", this)),
      figures_(new QWidget(this)),
      bytes_(figureLabel("bytes", figures_)),
      rate_(figureLabel("rate", figures_)),
      eta_(figureLabel("eta", figures_)),
      files_(figureLabel("files", this)),
      currentPath_(new MiddleElidedLabel(this)) {
    const QFont caption = FenraFont::font(FontRole::caption);
    const QFont digits = FenraFont::monospacedDigits(caption.pixelSize());
    setFont(caption);
    for (QWidget* figure : {static_cast<QWidget*>(percent_), static_cast<QWidget*>(scanned_), figures_,
                            static_cast<QWidget*>(files_)}) {
        figure->setFont(digits);
    }
    percent_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    bar_->setObjectName(QStringLiteral("bar"));
    busy_->setObjectName(QStringLiteral("busy"));
    figures_->setObjectName(QStringLiteral("figures"));
    new TransferFiguresLayout(bytes_, rate_, eta_, figures_);
    currentPath_->setObjectName(QStringLiteral("currentPath"));

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(phase_);
    header->addStretch(1);
    header->addWidget(percent_);
    if (stop_) {
        stopButton_ = new QPushButton(this);
        stopButton_->setObjectName(QStringLiteral("stop"));
        connect(stopButton_, &QPushButton::clicked, this, [this] { stop_(); });
        header->addWidget(stopButton_);
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addLayout(header);
    layout->addWidget(bar_);
    layout->addWidget(busy_);
    layout->addWidget(scanned_);
    layout->addWidget(figures_);
    layout->addWidget(files_);
    layout->addWidget(currentPath_);
    layout->addStretch(1);

    refreshTint();
    refresh();
}

void ProgressPanel::setProgress(const SyncProgress& progress) {
    progress_ = progress;
    refresh();
}

void ProgressPanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refresh();
    }
}

void ProgressPanel::refreshTint() {
    // The panel's controls take the destructive tint.
    for (QWidget* control : {static_cast<QWidget*>(bar_), static_cast<QWidget*>(stopButton_)}) {
        if (control != nullptr) PaletteTone::apply(control, FenraTheme::destructive(), QPalette::Highlight);
    }
    PaletteTone::apply(currentPath_, FenraTheme::textSecondary());
}

void ProgressPanel::refresh() {
    const QLocale where = locale();
    const SyncProgress& p = progress_;
    const bool transferring = p.phase == SyncPhase::transferring;
    // A fraction that is not a number shows as none known.
    const bool determinate = transferring && p.fraction && std::isfinite(*p.fraction);

    phase_->setText(strings_.computed("phase.", p.phase, where));
    percent_->setVisible(determinate);
    if (determinate) {
        percent_->setText(DisplayFormat::percent(*p.fraction, where));
    }
    if (stopButton_ != nullptr) {
        stopButton_->setText(strings_.text(QStringLiteral("Stop"), where));
    }

    if (determinate) {
        bar_->setRange(0, barSteps);
        bar_->setValue(static_cast<int>(std::lround(std::clamp(*p.fraction, 0.0, 1.0) * barSteps)));
    } else {
        bar_->setRange(0, 0);
    }
    // A known share fills the bar; otherwise the small busy indicator turns.
    bar_->setVisible(determinate);
    busy_->setVisible(!determinate);

    const bool scanning = p.phase == SyncPhase::scanning && !p.fraction;
    scanned_->setVisible(scanning);
    if (scanning) {
        scanned_->setText(strings_.count(QStringLiteral("Scanned %lld items"), qlonglong(p.scannedItems), {}, where));
    }

    figures_->setVisible(transferring);
    files_->setVisible(transferring);
    if (transferring) {
        bytes_->setText(strings_.format(QStringLiteral("%@ of %@"),
                                        {DisplayFormat::bytes(p.bytesDone, where),
                                         DisplayFormat::bytes(p.bytesTotal, where)},
                                        where));
        const std::optional<qlonglong> rate = wholeNumber(p.bytesPerSecond);
        rate_->setVisible(rate.has_value());
        if (rate) {
            rate_->setText(strings_.format(QStringLiteral("%@/s"), {DisplayFormat::bytes(*rate, where)}, where));
        }
        const std::optional<qlonglong> eta = wholeNumber(p.eta);
        eta_->setVisible(eta.has_value());
        if (eta) {
            eta_->setText(strings_.format(QStringLiteral("ETA %lld s"), {*eta}, where));
        }
        files_->setText(strings_.format(QStringLiteral("Files: %lld of %lld"),
                                        {qlonglong(p.filesDone), qlonglong(p.filesTotal)}, where));
    }

    currentPath_->setVisible(p.currentPath.has_value());
    currentPath_->setFullText(p.currentPath ? QString::fromStdString(*p.currentPath) : QString());
}

}  // namespace kelto
