#include "KeltoDesign/KeltoLogo.h"

#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/internal/Decoration.h"

#include <QPainter>

#include <algorithm>

namespace kelto {
namespace {

constexpr double box = 64;

QPainterPath subpath(const QPolygonF& polygon) {
    QPainterPath path;
    path.addPolygon(polygon);
    path.closeSubpath();
    return path;
}

QPainterPath joined(std::initializer_list<int> indices) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    for (int index : indices) {
        path.addPath(subpath(KeltoLogo::polygons()[static_cast<std::size_t>(index)]));
    }
    return path;
}

}  // namespace

KeltoLogo::KeltoLogo(Style style, QWidget* parent) : QWidget(parent), style_(style) {
    Decoration::adopt(*this);
}

const std::array<QPolygonF, 8>& KeltoLogo::polygons() {
    // A cut gem (P3) over two corner wings (P1 coral, P2 blue); P4 to P7 are
    // its lit and shaded facets around the table, P8.
    static const std::array<QPolygonF, 8> shapes{
        QPolygonF{{4, 4}, {30, 4}, {26, 18}, {12, 26}, {4, 40}},
        QPolygonF{{60, 26}, {60, 60}, {26, 60}, {40, 54}, {54, 42}},
        QPolygonF{{32, 14}, {50, 20}, {58, 36}, {50, 52}, {32, 60}, {14, 52}, {6, 36}, {14, 20}},
        QPolygonF{{14, 20}, {32, 14}, {32, 27}, {24, 31}, {6, 36}},
        QPolygonF{{32, 14}, {50, 20}, {58, 36}, {40, 31}, {32, 27}},
        QPolygonF{{6, 36}, {24, 31}, {24, 41}, {32, 45}, {32, 60}, {14, 52}},
        QPolygonF{{58, 36}, {50, 52}, {32, 60}, {32, 45}, {40, 41}, {40, 31}},
        QPolygonF{{32, 27}, {24, 31}, {24, 41}, {32, 45}, {40, 41}, {40, 31}},
    };
    return shapes;
}

const QPainterPath& KeltoLogo::templatePath() {
    static const QPainterPath path = joined({0, 1, 2, 7});
    return path;
}

QTransform KeltoLogo::placement(const QSizeF& canvas) {
    const double s = std::min(canvas.width(), canvas.height()) / box;
    QTransform transform;
    transform.translate((canvas.width() - box * s) / 2, (canvas.height() - box * s) / 2);
    transform.scale(s, s);
    return transform;
}

void KeltoLogo::paint(QPainter& painter, const QRectF& canvas, Style style, const QColor& ink) {
    static const QColor blue = RGB::from255(43, 75, 255).color();
    static const QColor pale = RGB::from255(255, 224, 138).color();
    static const QColor amber = RGB::from255(241, 181, 44).color();
    static const QPainterPath wings = joined({0});
    static const QPainterPath second = joined({1});
    static const QPainterPath gem = joined({2});
    static const QPainterPath lit = joined({3, 4});
    static const QPainterPath shaded = joined({5, 6});

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(canvas.topLeft());
    painter.setTransform(placement(canvas.size()), true);
    if (style == Style::template_) {
        painter.fillPath(templatePath(), ink);
    } else {
        // Coral, kelto and the rest look the same in either appearance.
        painter.fillPath(wings, FenraTheme::coral().light.color());
        painter.fillPath(second, blue);
        painter.fillPath(gem, FenraTheme::kelto().light.color());
        painter.fillPath(lit, pale);
        painter.fillPath(shaded, amber);
    }
    painter.restore();
}

void KeltoLogo::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(rect()), style_, palette().color(QPalette::WindowText));
}

}  // namespace kelto
