#pragma once

#include <QStyle>

#include <vector>

class QWidget;

namespace kelto {

// The button panels and frames the application's style draws for a widget,
// in order, each with whether it was drawn as on or pressed: what its look
// is made of, told apart without comparing pixels.
struct DrawnPanels {
    struct Panel {
        QStyle::PrimitiveElement element;
        bool pressed;
        friend bool operator==(const Panel&, const Panel&) = default;
    };
    static std::vector<Panel> of(QWidget& widget);
};

}  // namespace kelto
