#include "KeltoDesign/KeltoCheckbox.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "KeltoDesign/KeltoDesignStrings.h"
#include "KeltoDesign/internal/CheckboxAccessible.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

constexpr double boxSide = 15;
constexpr double gap = 7;
constexpr int rowHeight = 24;

QFont labelFont() {
    return FenraFont::font(13);
}

}  // namespace

KeltoCheckbox::KeltoCheckbox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {
    static const bool accessibleInstalled = (QAccessible::installFactory(&CheckboxAccessible::create), true);
    Q_UNUSED(accessibleInstalled);
    setFont(labelFont());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString KeltoCheckbox::stateText() const {
    return KeltoDesignStrings::text(isChecked() ? QStringLiteral("On") : QStringLiteral("Off"), locale());
}

QSize KeltoCheckbox::sizeHint() const {
    const QFontMetricsF metrics(labelFont());
    const double label = text().isEmpty() ? 0 : gap + metrics.horizontalAdvance(text());
    return {static_cast<int>(std::ceil(boxSide + label)),
            std::max(rowHeight, static_cast<int>(std::ceil(metrics.height())))};
}

bool KeltoCheckbox::hitButton(const QPoint& position) const {
    return rect().contains(position);
}

void KeltoCheckbox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    const bool on = isChecked();
    const QRectF box(0, (height() - boxSide) / 2, boxSide, boxSide);

    QPainterPath shape;
    shape.addRoundedRect(box, 4, 4);
    painter.fillPath(shape, (on ? FenraTheme::accent() : FenraTheme::stroke()).color(palette));
    painter.setPen(QPen((on ? FenraTheme::accent() : FenraTheme::textTertiary()).color(palette), 1));
    painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    if (on) {
        const QRectF mark(box.center() - QPointF(5.5, 5.5), QSizeF(11, 11));
        SymbolImage::icon(FenraIcon::selected, FenraTheme::onAccent().color(palette))
            .paint(&painter, mark.toAlignedRect());
    }
    if (!text().isEmpty()) {
        painter.setFont(labelFont());
        painter.setPen(FenraTheme::textPrimary().color(palette));
        const QRectF label(boxSide + gap, 0, width() - boxSide - gap, height());
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }
}

}  // namespace kelto
