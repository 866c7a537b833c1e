#include "FenraCore/FenraPreferences.h"

namespace kelto {

FenraPreferences& FenraPreferences::shared() {
    static FenraPreferences instance;
    return instance;
}

void FenraPreferences::setReduceTransparency(bool on) {
    assign(reduceTransparency_, on);
}

void FenraPreferences::setIncreaseContrast(bool on) {
    assign(increaseContrast_, on);
}

void FenraPreferences::setReduceMotion(bool on) {
    assign(reduceMotion_, on);
}

void FenraPreferences::assign(bool& field, bool value) {
    if (field == value) {
        return;
    }
    field = value;
    emit changed();
}

}  // namespace kelto
