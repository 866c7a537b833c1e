#pragma once

class QWidget;

namespace kelto {

// Pictures that only decorate: they take no clicks and no focus, and
// assistive technology finds them invisible, so it passes over them.
struct Decoration {
    static void adopt(QWidget& widget);
    static bool isDecoration(const QWidget& widget);
};

}  // namespace kelto
