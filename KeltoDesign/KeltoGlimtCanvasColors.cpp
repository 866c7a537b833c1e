#include "KeltoDesign/KeltoGlimtCanvasColors.h"

namespace kelto {

FenraColor KeltoGlimtCanvasColors::backdrop() {
    static const FenraColor value{RGB::from255(236, 238, 241), RGB::from255(23, 25, 30)};
    return value;
}

FenraColor KeltoGlimtCanvasColors::canvas() {
    static const FenraColor value{RGB::from255(255, 255, 255), RGB::from255(49, 51, 56)};
    return value;
}

FenraColor KeltoGlimtCanvasColors::grid() {
    static const FenraColor value{RGB::from255(222, 224, 228), RGB::from255(37, 39, 44)};
    return value;
}

FenraColor KeltoGlimtCanvasColors::guide() {
    static const FenraColor value{RGB::from255(110, 113, 120), RGB::from255(144, 148, 156)};
    return value;
}

}  // namespace kelto
