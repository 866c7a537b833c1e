#pragma once

#include <QColor>
#include <QPalette>

namespace kelto {

// The two system colours the kit draws with, taken from the palette.
struct FenraChrome {
    // Hairlines between and around pieces of interface.
    static QColor separator(const QPalette& palette);
    static QColor windowBackground(const QPalette& palette);
};

}  // namespace kelto
