#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/KeltoGlimtCanvasColors.h"
#include "KeltoDesign/NumraEditorPalette.h"
#include "KeltoDesign/NumraTypography.h"
#include "tests/support/widgets/QtPrinting.h"

#include <QFontInfo>

#include <gtest/gtest.h>

namespace kelto {
namespace {

QColor hex(const char* text) {
    return QColor(QString::fromLatin1(text));
}

TEST(NumraEditorPalette, RolesAreKnownByTheirExactNames) {
    ASSERT_EQ(NumraEditorPalettes::allCases().size(), 14U);
    EXPECT_EQ(NumraEditorPalettes::allCases()[13], NumraEditorPalette::selectionText);
    EXPECT_EQ(NumraEditorPalettes::fromRawValue("selectionText"), NumraEditorPalette::selectionText);
    EXPECT_EQ(NumraEditorPalettes::fromRawValue("SelectionText"), std::nullopt);
    EXPECT_EQ(NumraEditorPalettes::fromRawValue("footer"), std::nullopt);
    for (NumraEditorPalette role : NumraEditorPalettes::allCases()) {
        const std::string_view raw = NumraEditorPalettes::rawValue(role);
        EXPECT_EQ(NumraEditorPalettes::fromRawValue(raw), role);
        EXPECT_EQ(NumraEditorPalettes::color(role).name, QStringLiteral("KeltoNumra.") + QString::fromLatin1(raw));
        // Built once: the same entry every time.
        EXPECT_EQ(&NumraEditorPalettes::color(role), &NumraEditorPalettes::color(role));
    }
}

TEST(NumraEditorPalette, DarkValuesAreFixedAndLightValuesFollowTheTheme) {
    using enum NumraEditorPalette;
    auto dark = [](NumraEditorPalette role) { return NumraEditorPalettes::color(role).color(ColorScheme::dark); };
    auto light = [](NumraEditorPalette role) { return NumraEditorPalettes::color(role).color(ColorScheme::light); };
    for (NumraEditorPalette role : {keyword, unit, currency, selection}) {
        EXPECT_EQ(dark(role), hex("#95C9F0"));
    }
    EXPECT_EQ(dark(selectionText), hex("#26272B"));
    EXPECT_EQ(dark(background), hex("#26272B"));
    EXPECT_EQ(dark(variable), hex("#E8B86D"));

    EXPECT_EQ(light(keyword), FenraTheme::textPrimary().light.color());
    EXPECT_EQ(light(unit), FenraTheme::secondaryAccent().light.color());
    EXPECT_EQ(light(currency), FenraTheme::accent().light.color());
    EXPECT_EQ(light(background), FenraTheme::surface().light.color());
    EXPECT_EQ(light(selectionText), FenraTheme::onAccent().light.color());
    EXPECT_EQ(FenraTheme::secondaryAccent(), FenraTheme::accent());
}

TEST(NumraTypography, EachFontIsOneSharedObject) {
    EXPECT_EQ(&NumraTypography::editor(), &NumraTypography::editor());
    EXPECT_EQ(NumraTypography::editor().pixelSize(), 15);
    EXPECT_TRUE(QFontInfo(NumraTypography::editor()).fixedPitch());
    EXPECT_EQ(NumraTypography::footer().pixelSize(), 11);
    EXPECT_EQ(NumraTypography::total().weight(), QFont::DemiBold);
}

TEST(KeltoGlimtCanvasColors, ValuesInDeclarationOrder) {
    EXPECT_EQ(KeltoGlimtCanvasColors::backdrop(), FenraColor(RGB::from255(236, 238, 241), RGB::from255(23, 25, 30)));
    EXPECT_EQ(KeltoGlimtCanvasColors::guide().dark, RGB::from255(144, 148, 156));
}

}  // namespace
}  // namespace kelto
