#include "KeltoDesign/NumraTypography.h"

#include "FenraCore/FenraFont.h"

namespace kelto {

const QFont& NumraTypography::body() {
    static const QFont font = FenraFont::font(13);
    return font;
}

const QFont& NumraTypography::footer() {
    static const QFont font = FenraFont::font(11);
    return font;
}

const QFont& NumraTypography::total() {
    static const QFont font = FenraFont::monospacedDigits(13, QFont::DemiBold);
    return font;
}

const QFont& NumraTypography::editor() {
    static const QFont font = FenraFont::monospaced(15);
    return font;
}

const QFont& NumraTypography::editorSemibold() {
    static const QFont font = FenraFont::monospaced(15, QFont::DemiBold);
    return font;
}

const QFont& NumraTypography::editorMedium() {
    static const QFont font = FenraFont::monospaced(15, QFont::Medium);
    return font;
}

const QFont& NumraTypography::figures() {
    static const QFont font = FenraFont::monospacedDigits(12);
    return font;
}

const QFont& NumraTypography::figuresMedium() {
    static const QFont font = FenraFont::monospacedDigits(12, QFont::Medium);
    return font;
}

const QFont& NumraTypography::bodySemibold() {
    static const QFont font = FenraFont::font(13, QFont::DemiBold);
    return font;
}

}  // namespace kelto
