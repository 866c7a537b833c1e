#include "KeltoDesign/KeltoSlider.h"

#include "FenraCore/FenraTheme.h"
#include "FenraCore/TextFormat.h"
#include "KeltoDesign/KeltoDesignStrings.h"
#include "KeltoDesign/internal/DropShadow.h"
#include "KeltoDesign/internal/SliderAccessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

constexpr double thumbRadius = KeltoSlider::thumbDiameter / 2;

KeltoSliderScale scaleOf(KeltoSliderScale::Range range, std::optional<double> step) {
    return step ? KeltoSliderScale(range, *step) : KeltoSliderScale(range);
}

QPainterPath capsule(const QRectF& rect) {
    QPainterPath path;
    const double radius = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

}  // namespace

KeltoSlider::KeltoSlider(Binding<double>& value, KeltoSliderScale::Range range, std::optional<double> step,
                         QWidget* parent)
    : QWidget(parent), value_(&value), scale_(scaleOf(range, step)) {
    static const bool accessibleInstalled = (QAccessible::installFactory(&SliderAccessible::create), true);
    Q_UNUSED(accessibleInstalled);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(controlHeight);
    connect(&value, &BindingNotifier::changed, this, qOverload<>(&QWidget::update));
}

KeltoSlider::~KeltoSlider() {
    endDrag();
}

double KeltoSlider::value() const {
    return value_ != nullptr ? value_->get() : scale_.range().lower;
}

double KeltoSlider::travel() const {
    // Narrower than the thumb, the slider still has a point to travel.
    return std::max(width() - thumbDiameter, 1.0);
}

QRectF KeltoSlider::thumbRect() const {
    const double x = scale_.fraction(value()) * travel();
    return QRectF(x, (controlHeight - thumbDiameter) / 2, thumbDiameter, thumbDiameter);
}

void KeltoSlider::write(double value) {
    if (value_ != nullptr) {
        value_->set(value);
    }
}

void KeltoSlider::stepBy(int steps) {
    write(scale_.snapped(value() + steps * scale_.step()));
}

QString KeltoSlider::accessibleValue() const {
    const double shown = scale_.range().upper <= 1 ? value() * 100 : value();
    const double number = std::round(shown);
    // 2^63 is the first double beyond a 64-bit integer; -2^63 still fits.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || number >= limit || number < -limit) {
        return {};
    }
    return TextFormat::format(KeltoDesignStrings::text(QStringLiteral("%lld percent"), locale()),
                              {static_cast<qlonglong>(number)}, locale());
}

QSize KeltoSlider::sizeHint() const {
    return {120, controlHeight};
}

QSize KeltoSlider::minimumSizeHint() const {
    return {static_cast<int>(thumbDiameter), controlHeight};
}

void KeltoSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    const double centre = controlHeight / 2.0;
    const QRectF thumb = thumbRect();

    const QRectF track(0, centre - trackHeight / 2, width(), trackHeight);
    painter.fillPath(capsule(track), FenraTheme::stroke().color(palette));
    // The fill ends under the thumb's centre.
    const QRectF filled(0, track.top(), thumb.left() + thumbRadius, trackHeight);
    painter.fillPath(capsule(filled), FenraTheme::accent().color(palette));

    QPainterPath disc;
    disc.addEllipse(thumb);
    DropShadow{QColor::fromRgbF(0, 0, 0, 0.08F), 2, QPointF(0, 1)}.paint(painter, disc);
    painter.fillPath(disc, FenraTheme::surface().color(palette));
    painter.setPen(QPen(FenraTheme::accent().color(palette), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(thumb.adjusted(0.5, 0.5, -0.5, -0.5));
}

void KeltoSlider::dragTo(double x) {
    if (!dragging_) {
        dragging_ = true;
        emit editingChanged(true);
    }
    write(scale_.snapped(scale_.value((x - thumbRadius) / travel())));
}

void KeltoSlider::endDrag() {
    if (dragging_) {
        dragging_ = false;
        emit editingChanged(false);
    }
}

void KeltoSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragTo(event->position().x());
}

void KeltoSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    dragTo(event->position().x());
}

void KeltoSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    endDrag();
}

void KeltoSlider::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left: stepBy(-1); break;
    case Qt::Key_Right: stepBy(1); break;
    default: QWidget::keyPressEvent(event); return;
    }
    event->accept();
}

void KeltoSlider::hideEvent(QHideEvent* event) {
    endDrag();
    QWidget::hideEvent(event);
}

}  // namespace kelto
