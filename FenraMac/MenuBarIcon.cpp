#include "FenraMac/MenuBarIcon.h"

#include "FenraMac/internal/MenuBarIconEngine.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace kelto {
namespace {

const QColor ink(0, 0, 0);

// The badge stands free of the mark: what lies under its hole is erased.
void clearHole(QPainter& painter, const QRectF& ellipse) {
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    QPainterPath hole;
    hole.addEllipse(ellipse);
    painter.fillPath(hole, ink);
    painter.restore();
}

double wedgeFraction(double fraction) {
    if (std::isnan(fraction) || fraction < 0) {
        return 0;
    }
    return fraction > 1 ? 1 : fraction;
}

void drawProgress(QPainter& painter, double fraction) {
    clearHole(painter, QRectF(11, 11, 7, 7));
    painter.save();
    painter.setPen(QPen(ink, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(12, 12, 5, 5));
    painter.restore();

    const double f = wedgeFraction(fraction);
    if (f == 0) {
        return;
    }
    // Qt's angles turn counter-clockwise from three o'clock; the wedge grows
    // clockwise from twelve.
    QPainterPath wedge(QPointF(14.5, 14.5));
    wedge.arcTo(QRectF(12, 12, 5, 5), 90, -360 * f);
    wedge.closeSubpath();
    wedge.setFillRule(Qt::WindingFill);
    painter.fillPath(wedge, ink);
}

void drawPaused(QPainter& painter) {
    clearHole(painter, QRectF(11.5, 11, 6.5, 7));
    painter.fillRect(QRectF(12.5, 12, 1.5, 5), ink);
    painter.fillRect(QRectF(15.5, 12, 1.5, 5), ink);
}

void drawAttention(QPainter& painter) {
    clearHole(painter, QRectF(12, 0, 6, 6));
    QPainterPath dot;
    dot.addEllipse(QRectF(13, 1, 4, 4));
    painter.fillPath(dot, ink);
}

}  // namespace

TemplateImage MenuBarIcon::image(const TemplateMark& mark, const MenuBarIconState& state,
                                 const QString& accessibilityDescription) {
    QIcon icon(new MenuBarIconEngine(mark, state));
    icon.setIsMask(true);
    return TemplateImage{icon, accessibilityDescription};
}

bool MenuBarIcon::draw(QPainter* painter, const TemplateMark& mark, const MenuBarIconState& state) {
    if (painter == nullptr || !painter->isActive()) {
        return false;
    }
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    if (mark.path) {
        QPainterPath path = mark.path(QRectF(1, 1, 16, 16));
        path.setFillRule(mark.fillRule);
        painter->fillPath(path, ink);
    }
    switch (state.kind) {
    case MenuBarIconState::Case::idle: break;
    case MenuBarIconState::Case::progress: drawProgress(*painter, state.fraction); break;
    case MenuBarIconState::Case::paused: drawPaused(*painter); break;
    case MenuBarIconState::Case::attention: drawAttention(*painter); break;
    }
    painter->restore();
    return true;
}

}  // namespace kelto
