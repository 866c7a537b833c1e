#include "FenraCore/SurfaceMaterial.h"
#include "FenraCore/SurfaceRendering.h"
#include <QPalette>
#include <gtest/gtest.h>
#include <cstdlib>

using namespace kelto;

namespace {

using SurfaceRenderings::resolve;
constexpr auto glass = SurfaceRendering::glass;
constexpr auto material = SurfaceRendering::material;
constexpr auto solid = SurfaceRendering::solid;
const std::optional<QString> unset;

TEST(SurfaceRendering, LegacyVariableCountsOnlyWhenExactlyOneAndIsReadAtEveryDecision) {
    EXPECT_EQ(resolve(26, false, false, unset), glass);
    EXPECT_EQ(resolve(26, false, false, QStringLiteral("1")), material);
    for (const char* other : {"0", "yes", "", " 1", "true", "1 "})
        EXPECT_EQ(resolve(26, false, false, QString::fromLatin1(other)), glass) << '"' << other << '"';
    // Before the glass version everything is material, whatever the variable says.
    for (const auto& value : {unset, std::optional<QString>(QStringLiteral("1")), std::optional<QString>(QStringLiteral("0"))})
        EXPECT_EQ(resolve(15, false, false, value), material);
    ::setenv("FENRA_DESIGN_LEGACY", "1", 1);
    EXPECT_EQ(resolve(26, false, false), material);
    ::setenv("FENRA_DESIGN_LEGACY", "", 1);
    EXPECT_EQ(resolve(26, false, false), glass);
    ::unsetenv("FENRA_DESIGN_LEGACY");
    EXPECT_EQ(resolve(26, false, false), glass);
}

TEST(SurfaceRendering, ReducedTransparencyWinsForcedLegacyIsMaterialAndSolidHasABorder) {
    for (int version : {15, 26, 27}) {
        EXPECT_EQ(resolve(version, false, true, unset), solid);
        EXPECT_EQ(resolve(version, true, true, unset), solid);
        EXPECT_EQ(resolve(version, true, false, unset), material);
        EXPECT_EQ(resolve(version, false, true, QStringLiteral("1")), solid);
    }
    // Nothing here draws glass.
    EXPECT_EQ(resolve(SurfaceRenderings::hostSystemVersion, false, false, unset), material);
    // A border on solid, or under increased contrast.
    for (const SurfaceRendering rendering : {glass, material, solid}) {
        EXPECT_EQ(SurfaceRenderings::hasBorder(rendering, false), rendering == solid);
        EXPECT_TRUE(SurfaceRenderings::hasBorder(rendering, true));
    }
}

TEST(SurfaceMaterial, ThickerMaterialsMoveFurtherFromTheWindowColour) {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
    int previous = 240;
    for (SurfaceMaterial m : {SurfaceMaterial::regular, SurfaceMaterial::bar, SurfaceMaterial::thick, SurfaceMaterial::ultraThick}) {
        const QColor c = SurfaceMaterials::color(m, palette);
        EXPECT_LT(c.red(), previous);
        EXPECT_EQ(c.alpha(), 255);
        previous = c.red();
    }
    // Towards the text colour, so dark windows get lighter.
    palette.setColor(QPalette::Window, QColor(30, 30, 30));
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255));
    EXPECT_GT(SurfaceMaterials::color(SurfaceMaterial::regular, palette).red(), 30);
}

}  // namespace
