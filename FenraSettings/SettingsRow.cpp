#include "FenraSettings/SettingsRow.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "FenraSettings/SettingsSearch.h"
#include "FenraSettings/SettingsSearchQuery.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace kelto {
namespace {

QLabel* wrappingLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// The common ease-out timing curve.
QEasingCurve easeOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

}  // namespace

SettingsRow::SettingsRow(const QString& title, const std::optional<QString>& subtitle,
                         const std::function<QWidget*()>& accessory, QWidget* parent)
    : QWidget(parent),
      title_(title),
      subtitle_(subtitle),
      hold_(new QTimer(this)),
      fadeAnimation_(new QVariantAnimation(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(wrappingLabel(title_, this));
    if (subtitle_) {
        subtitleLabel_ = wrappingLabel(*subtitle_, this);
        subtitleLabel_->setFont(FenraFont::font(FontRole::subheadline));
        // A secondary level of the row's own text colour, in each group.
        PaletteTone::apply(subtitleLabel_, [](const QPalette& row, QPalette::ColorGroup group) {
            QColor secondary = row.color(group, QPalette::WindowText);
            secondary.setAlphaF(0.55f);
            return secondary;
        });
        texts->addWidget(subtitleLabel_);
    }
    row->addLayout(texts, 1);
    if (accessory) {
        accessory_ = accessory();
    }
    if (accessory_ != nullptr) {
        // The title labels the control, as a label beside its field does.
        if (accessory_->accessibleName().isEmpty()) {
            accessory_->setAccessibleName(title_);
        }
        row->addWidget(accessory_, 0, Qt::AlignTrailing | Qt::AlignVCenter);
    }

    hold_->setSingleShot(true);
    hold_->setTimerType(Qt::PreciseTimer);
    hold_->setInterval(holdMilliseconds);
    connect(hold_, &QTimer::timeout, this, &SettingsRow::fade);
    fadeAnimation_->setDuration(fadeMilliseconds);
    fadeAnimation_->setEasingCurve(easeOut());
    connect(fadeAnimation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { setOpacity(value.toDouble()); });
}

void SettingsRow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    follow();
    light();
}

void SettingsRow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Off screen the cycle stops where it is; showing the row starts anew.
    disconnect(queryChanged_);
    query_ = nullptr;
    hold_->stop();
}

void SettingsRow::paintEvent(QPaintEvent*) {
    if (opacity_ <= 0) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor light = FenraTheme::kelto().color(palette());
    light.setAlphaF(static_cast<float>(opacity_));
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(shape, light);
}

void SettingsRow::follow() {
    Binding<QString>* query = SettingsSearchQuery::find(*this);
    if (query == query_) {
        return;
    }
    disconnect(queryChanged_);
    query_ = query;
    if (query != nullptr) {
        queryChanged_ = connect(query, &BindingNotifier::changed, this, &SettingsRow::light);
    }
}

void SettingsRow::light() {
    fadeAnimation_->stop();
    const bool match = SettingsSearch::matches(title_, query_ != nullptr ? query_->get() : QString());
    setOpacity(match ? litOpacity : 0);
    setHighlighted(match);
    if (match) {
        hold_->start();
    } else {
        hold_->stop();
    }
}

void SettingsRow::fade() {
    setHighlighted(false);
    if (FenraPreferences::shared().reduceMotion()) {
        setOpacity(0);
        return;
    }
    fadeAnimation_->setStartValue(opacity_);
    fadeAnimation_->setEndValue(0.0);
    fadeAnimation_->start();
}

void SettingsRow::setHighlighted(bool on) {
    if (highlighted_ == on) {
        return;
    }
    highlighted_ = on;
    emit highlightedChanged(on);
}

void SettingsRow::setOpacity(double opacity) {
    if (opacity_ == opacity) {
        return;
    }
    opacity_ = opacity;
    update();
}

}  // namespace kelto
