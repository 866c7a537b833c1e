#include "Kelto_Sync/Tray/MenuBarJobRow.h"

#include "FenraCore/DogEar.h"
#include "FenraCore/DogEarShape.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTileView.h"
#include "FenraCore/PaletteTone.h"
#include "Kelto_Sync/ModeDisplay.h"
#include "Kelto_Sync/PlainToolTip.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/RelativeTimestamp.h"
#include "Kelto_Sync/Status/JobRunButton.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelto {

namespace {
constexpr int tileSide = 20;
constexpr int markerSide = 12;
constexpr double cardRadius = 14;
constexpr const char* unseen = "menuBarUnseen";

// Marks the widgets that only shape the card (the blank line, the running
// marker) invisible to assistive technology, so it passes over them.
class UnseenAccessible : public QAccessibleWidget {
public:
    explicit UnseenAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Graphic) {}
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = true;
        return state;
    }
};

QAccessibleInterface* unseenAccessible(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && widget->property(unseen).toBool()) return new UnseenAccessible(widget);
    return nullptr;
}

// A card whose top right corner is folded along the marker's diagonal. The
// fold runs inside the card's rounded corner (the marker is smaller than the
// corner's radius), so on either side of it the card keeps the rounding of
// every other card: the top edge and the right edge follow the corner's arc
// up to where the fold crosses it.
QPainterPath foldedCard(const QRectF& r) {
    QPainterPath card;
    card.addRoundedRect(r, cardRadius, cardRadius);
    const double inset = cardRadius - markerSide;
    // Where the fold, from (right − side, top) to (right, top + side), meets
    // the arc: its distance s along both axes solves s² − side·s + inset²/2 = 0.
    const double root = markerSide * markerSide - 2 * inset * inset;
    // A corner no wider than the fold: the fold ends on the straight edges.
    if (inset <= 0) return DogEarShape(markerSide, cardRadius).path(r);
    // A fold that never reaches the arc leaves the card whole.
    if (root <= 0) return card;
    const double near = (markerSide - std::sqrt(root)) / 2;
    const double far = (markerSide + std::sqrt(root)) / 2;
    const QRectF circle(r.right() - 2 * cardRadius, r.top(), 2 * cardRadius, 2 * cardRadius);
    const auto angle = [&](double s) {
        const QPointF p(r.right() - markerSide + s, r.top() + s);
        const QPointF centre = circle.center();
        return std::atan2(centre.y() - p.y(), p.x() - centre.x()) * 180 / std::numbers::pi;
    };
    QPainterPath folded;
    folded.moveTo(r.left() + cardRadius, r.top());
    folded.lineTo(r.right() - cardRadius, r.top());
    folded.arcTo(circle, 90, angle(near) - 90);
    folded.lineTo(r.right() - markerSide + far, r.top() + far);
    folded.arcTo(circle, angle(far), -angle(far));
    folded.lineTo(r.right(), r.bottom() - cardRadius);
    folded.arcTo(QRectF(r.right() - 2 * cardRadius, r.bottom() - 2 * cardRadius, 2 * cardRadius, 2 * cardRadius), 0, -90);
    folded.lineTo(r.left() + cardRadius, r.bottom());
    folded.arcTo(QRectF(r.left(), r.bottom() - 2 * cardRadius, 2 * cardRadius, 2 * cardRadius), 270, -90);
    folded.lineTo(r.left(), r.top() + cardRadius);
    folded.arcTo(QRectF(r.left(), r.top(), 2 * cardRadius, 2 * cardRadius), 180, -90);
    folded.closeSubpath();
    return folded;
}

void hideFromAccessibility(QWidget& widget) {
    static const bool installed = (QAccessible::installFactory(unseenAccessible), true);
    (void)installed;
    widget.setProperty(unseen, true);
}

}  // namespace

MenuBarJobRow::MenuBarJobRow(SyncJob job, SyncStrings strings, std::function<void()> sync, std::function<void()> stop,
                             DeviceDot::Sources sources, const Clock& clock, QWidget* parent)
    : QWidget(parent), job_(std::move(job)), strings_(strings), clock_(&clock) {
    setObjectName(QStringLiteral("jobRow"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(lineSpacing);
    setFixedHeight(cardHeight);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    tile_ = new FoldedTileView(tileSide, this);
    tile_->setObjectName(QStringLiteral("modeTile"));
    name_ = new QLabel(this);
    name_->setObjectName(QStringLiteral("jobName"));
    name_->setTextFormat(Qt::PlainText);
    name_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    name_->installEventFilter(this);
    dot_ = new DeviceDot(job_, strings_, std::move(sources), this);
    run_ = new JobRunButton(QString::fromStdString(job_.name), std::nullopt, job_.isEnabled, strings_, std::move(sync),
                            std::move(stop), this);
    top->addWidget(tile_, 0, Qt::AlignVCenter);
    top->addWidget(name_, 1, Qt::AlignVCenter);
    top->addWidget(dot_, 0, Qt::AlignVCenter);
    top->addWidget(run_, 0, Qt::AlignVCenter);
    column->addLayout(top);

    slot_ = new JobStatusSlot(std::nullopt, job_.isEnabled, std::nullopt, strings_, this);
    column->addWidget(slot_);

    when_ = new QWidget(this);
    when_->setObjectName(QStringLiteral("whenLine"));
    when_->setFixedHeight(whenHeight);
    when_->setFont(FenraFont::font(FontRole::caption));
    PaletteTone::apply(when_, FenraTheme::textSecondary());
    auto* line = new QHBoxLayout(when_);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    nextTitle_ = new QLabel(when_);
    nextTitle_->setObjectName(QStringLiteral("nextRunTitle"));
    nextTitle_->setTextFormat(Qt::PlainText);
    nextTime_ = new QLabel(when_);
    nextTime_->setObjectName(QStringLiteral("nextRunTime"));
    nextTime_->setTextFormat(Qt::PlainText);
    // A space keeps the line's height when there is nothing to say.
    blank_ = new QLabel(QStringLiteral(" "), when_);
    blank_->setObjectName(QStringLiteral("blankLine"));
    hideFromAccessibility(*blank_);
    line->addWidget(nextTitle_);
    line->addWidget(nextTime_);
    line->addWidget(blank_);
    line->addStretch(1);
    column->addWidget(when_);

    // Over the card, not in its layout.
    auto* clear = new QWidget;
    clear->setFixedSize(markerSide, markerSide);
    marker_ = new DogEar(clear, markerSide, markerSide, this);
    marker_->setObjectName(QStringLiteral("runningMarker"));
    marker_->setFixedSize(markerSide, markerSide);
    marker_->setAttribute(Qt::WA_TransparentForMouseEvents);
    hideFromAccessibility(*marker_);
    hideFromAccessibility(*clear);
    marker_->hide();

    refresh();
}

void MenuBarJobRow::setValues(const SyncJob& job, State state) {
    job_ = job;
    state_ = std::move(state);
    dot_->setJob(job_);
    refresh();
}

bool MenuBarJobRow::isMarked() const { return marker_->isVisibleTo(this); }

QString MenuBarJobRow::whenText() const {
    if (nextTitle_->isVisibleTo(this)) return nextTitle_->text() + QLatin1Char(' ') + nextTime_->text();
    if (ended_ != nullptr && ended_->isVisibleTo(this)) return ended_->text();
    return {};
}

void MenuBarJobRow::refresh() {
    const FenraIcon symbol = ModeDisplay::symbol(job_.mode);
    const TileTint tint = ModeDisplay::tint(job_.mode);
    tile_->setTile(FoldedTile(symbol, tint, tileSide));
    tile_->setProperty("symbol", symbolName(symbol));
    tile_->setProperty("tint", static_cast<int>(tint));

    const QString name = QString::fromStdString(job_.name);
    elideName();
    name_->setToolTip(PlainToolTip::text(name));
    name_->setAccessibleName(name);

    run_->setValues(name, state_.status, job_.isEnabled);
    slot_->setValues(state_.status, job_.isEnabled,
                     state_.lastRecord ? std::optional<RunOutcome>(state_.lastRecord->outcome) : std::nullopt);
    refreshWhen();
    marker_->setVisible(state_.active);
    placeMarker();
    // The card's outline follows the marker.
    update();
}

void MenuBarJobRow::elideName() {
    // One line, cut at its end; the whole name is in the help text.
    name_->setText(name_->fontMetrics().elidedText(QString::fromStdString(job_.name), Qt::ElideRight,
                                                   std::max(0, name_->width())));
}

void MenuBarJobRow::refreshWhen() {
    const QLocale where = locale();
    const std::optional<Date> next = job_.isEnabled ? state_.nextRun : std::nullopt;
    nextTitle_->setVisible(next.has_value());
    nextTime_->setVisible(next.has_value());
    if (next) {
        nextTitle_->setText(strings_.text(QStringLiteral("Next run"), where));
        nextTime_->setText(DisplayFormat::time(*next, where));
    }
    const bool showsEnd = !next && state_.lastRecord;
    if (showsEnd) {
        if (ended_ == nullptr) {
            ended_ = new RelativeTimestamp(state_.lastRecord->endedAt, *clock_, when_);
            ended_->setObjectName(QStringLiteral("lastRunEnded"));
            static_cast<QHBoxLayout*>(when_->layout())->insertWidget(2, ended_);
        } else {
            ended_->setDate(state_.lastRecord->endedAt);
        }
    }
    if (ended_ != nullptr) ended_->setVisible(showsEnd);
    blank_->setVisible(!next && !showsEnd);
}

void MenuBarJobRow::placeMarker() {
    const int x = layoutDirection() == Qt::RightToLeft ? 0 : width() - markerSide;
    marker_->move(x, 0);
    marker_->raise();
    // The mark lies within the card's rounded corner, as the fold does.
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(rect()).translated(-x, 0), cardRadius, cardRadius);
    marker_->setOutline(rounded);
}

void MenuBarJobRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    if (isMarked()) {
        // The running card's top trailing corner is folded over: the card
        // ends at the fold, and the marker's flap lies in the cut.
        card = foldedCard(QRectF(rect()));
        if (layoutDirection() == Qt::RightToLeft) {
            card = QTransform(-1, 0, 0, 1, width(), 0).map(card);
        }
    } else {
        card.addRoundedRect(QRectF(rect()), cardRadius, cardRadius);
    }
    painter.fillPath(card, FenraTheme::stroke().color(palette()));
}

void MenuBarJobRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeMarker();
}

bool MenuBarJobRow::eventFilter(QObject* watched, QEvent* event) {
    // The name is cut to the width its label ends up with.
    if (watched == name_ && event->type() == QEvent::Resize) elideName();
    return QWidget::eventFilter(watched, event);
}

void MenuBarJobRow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    const auto type = event->type();
    if (type == QEvent::LocaleChange || type == QEvent::PaletteChange) refresh();
    if (type == QEvent::LayoutDirectionChange) placeMarker();
}

}  // namespace kelto
