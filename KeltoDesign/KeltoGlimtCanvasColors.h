#pragma once

#include "FenraCore/FenraColor.h"

namespace kelto {

// The colours of a drawing canvas, each made once on first use; a read
// hands out a copy.
struct KeltoGlimtCanvasColors {
    // Behind the canvas.
    static FenraColor backdrop();
    // The canvas itself.
    static FenraColor canvas();
    // Grid lines and edges.
    static FenraColor grid();
    // Guides and handles.
    static FenraColor guide();
};

}  // namespace kelto
