#pragma once

#include <QPainterPath>
#include <QRectF>

#include <functional>

namespace kelto {

// A vector mark drawn as an alpha mask: the path fills the given rectangle
// and is filled with `fillRule`. The function may be called from any thread;
// copies of a mark share it.
struct TemplateMark {
    std::function<QPainterPath(const QRectF&)> path;
    Qt::FillRule fillRule = Qt::WindingFill;
    bool antialiased = true;
};

}  // namespace kelto
