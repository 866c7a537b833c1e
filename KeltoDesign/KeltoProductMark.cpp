#include "KeltoDesign/KeltoProductMark.h"

#include <QTransform>

#include <algorithm>

namespace kelto {
namespace {

// Two arcs, each ending in an arrowhead: the upper one points right, the
// lower one left.
QPainterPath syncDesign() {
    QPainterPath path;
    path.moveTo(1.2, 7.7);
    path.cubicTo(1.4, 2.3, 7.5, -0.3, 11.8, 2.5);
    path.lineTo(11.8, 0.6);
    path.lineTo(14.9, 6.3);
    path.lineTo(8.6, 6.5);
    path.lineTo(10.2, 5.1);
    path.cubicTo(7.8, 3.0, 4.2, 4.4, 3.9, 7.7);
    path.closeSubpath();
    path.moveTo(14.8, 8.3);
    path.cubicTo(14.6, 13.7, 8.5, 16.3, 4.2, 13.5);
    path.lineTo(4.2, 15.4);
    path.lineTo(1.1, 9.7);
    path.lineTo(7.4, 9.5);
    path.lineTo(5.8, 10.9);
    path.cubicTo(8.2, 13.0, 11.8, 11.6, 12.1, 8.3);
    path.closeSubpath();
    return path;
}

}  // namespace

namespace KeltoProductMarks {

QPainterPath path(KeltoProductMark mark, const QRectF& rect) {
    QPainterPath design;
    switch (mark) {
    case KeltoProductMark::sync: design = syncDesign(); break;
    }
    const double s = std::min(rect.width(), rect.height()) * 0.0625;
    QTransform placement;
    placement.translate(rect.center().x() - 8 * s, rect.center().y() - 8 * s);
    placement.scale(s, s);
    return placement.map(design);
}

TemplateMark templateMark(KeltoProductMark mark) {
    return TemplateMark{[mark](const QRectF& rect) { return path(mark, rect); }, Qt::WindingFill, true};
}

}  // namespace KeltoProductMarks

}  // namespace kelto
