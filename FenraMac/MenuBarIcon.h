#pragma once

#include "FenraCore/TemplateMark.h"
#include "FenraMac/MenuBarIconState.h"
#include "FenraMac/TemplateImage.h"

#include <QString>

class QPainter;

namespace kelto {

// The status picture of the menu bar: a mark with a badge in a corner for
// the state. It is 18 by 18 points and drawn again at every size and pixel
// ratio it is asked for, so it stays sharp; the mark and state are copied in.
struct MenuBarIcon {
    static constexpr double side = 18;

    static TemplateImage image(const TemplateMark& mark, const MenuBarIconState& state,
                               const QString& accessibilityDescription);

    // Draws the picture in opaque black into the painter's 18 by 18 space
    // (origin top-left, y down), each badge clearing a hole in the mark under
    // it. Without an active painter nothing is drawn and the answer is false.
    static bool draw(QPainter* painter, const TemplateMark& mark, const MenuBarIconState& state);
};

}  // namespace kelto
