#pragma once

class QWidget;

namespace kelto {

// A group of texts that assistive technology reads as one element: its
// accessible name (and description) stand for everything inside, and the
// labels it holds are not read out again one by one.
struct AccessibleElement {
    // Before the widget is named: naming it makes its interface, which is
    // kept for its life.
    static void adopt(QWidget& widget);
    static bool isElement(const QWidget& widget);
};

}  // namespace kelto
