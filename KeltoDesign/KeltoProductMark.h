#pragma once

#include "FenraCore/TemplateMark.h"

#include <QPainterPath>
#include <QRectF>

namespace kelto {

// The product marks this application draws: its sync arrows, shown in the
// menu bar.
enum class KeltoProductMark { sync };

namespace KeltoProductMarks {
// The mark's design path (a 16 by 16 box, y down) scaled to the square of the
// rectangle's shorter side and centred in it.
QPainterPath path(KeltoProductMark mark, const QRectF& rect);
// The mark as a template: its path, filled with the non-zero rule, antialiased.
TemplateMark templateMark(KeltoProductMark mark);
}  // namespace KeltoProductMarks

}  // namespace kelto
