#include <QFile>
#include <QPalette>
#include <QTemporaryDir>

#include "FenraCore/Contrast.h"
#include "FenraCore/DogEarShape.h"
#include "FenraCore/StringTable.h"
#include "FenraCore/SurfaceMaterial.h"
#include "FenraCore/SurfaceRendering.h"
#include "FenraCore/TextFormat.h"
#include "FenraCore/TileTint.h"
#include "tests/support/widgets/QtPrinting.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

using namespace kelto;

namespace {

TEST(Contrast, RatioSpansOneToTwentyOneInEitherOrderAndTheThresholdIsOnTheLinearSide) {
    EXPECT_DOUBLE_EQ(Contrast::ratio(RGB::white, RGB::black), 21);
    const RGB grey = RGB::from255(120, 130, 140), navy = RGB::from255(11, 20, 51);
    EXPECT_DOUBLE_EQ(Contrast::ratio(grey, grey), 1);
    EXPECT_DOUBLE_EQ(Contrast::ratio(grey, navy), Contrast::ratio(navy, grey));
    EXPECT_NEAR(Contrast::luminance(RGB{0, 1, 0}), 0.7152, 1e-12);
    EXPECT_DOUBLE_EQ(Contrast::linear(0.04045), 0.04045 / 12.92);
    EXPECT_GT(Contrast::linear(0.0405), 0.0405 / 12.92);
    EXPECT_DOUBLE_EQ(Contrast::luminance(RGB{0.04045, 0.04045, 0.04045}), 0.04045 / 12.92);
    // The byte scale is divided without clamping.
    const RGB value = RGB::from255(255, 0, 300);
    EXPECT_DOUBLE_EQ(value.blue, 300.0 / 255.0);
}

void expectBytes(const RGB& value, double red, double green, double blue, double tolerance) {
    EXPECT_NEAR(value.red * 255, red, tolerance);
    EXPECT_NEAR(value.green * 255, green, tolerance);
    EXPECT_NEAR(value.blue * 255, blue, tolerance);
}

TEST(RGBShifted, NoShiftGivesAnInGamutColourBackAndLightnessIsClampedToTheLabRange) {
    // The two matrices are rounded inverses: not exact, but within a thousandth.
    for (TileTint tint : TileTints::allCases()) {
        const RGB base = TileTints::base(tint);
        expectBytes(base.shifted(0, 1, 0), base.red * 255, base.green * 255, base.blue * 255, 0.001);
    }
    const RGB grey = RGB::from255(128, 128, 128);
    expectBytes(grey.shifted(-200, 1, 0), 0, 0, 0, 0.01);
    expectBytes(grey.shifted(200, 1, 0), 255, 255, 255, 0.05);
    // A lightness that is not a number counts as below zero.
    expectBytes(grey.shifted(std::nan(""), 1, 0), 0, 0, 0, 0.01);
}

// The outline's points: Qt stores each quadratic curve as a cubic, whose two control points are skipped.
void expectPoints(const QPainterPath& path, const std::vector<QPointF>& expected) {
    std::vector<QPointF> actual;
    for (int i = 0; i < path.elementCount(); ++i) {
        if (path.elementAt(i).type == QPainterPath::CurveToElement) i += 2;
        actual.emplace_back(path.elementAt(i).x, path.elementAt(i).y);
    }
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i].x(), expected[i].x(), 1e-9) << "point " << i;
        EXPECT_NEAR(actual[i].y(), expected[i].y(), 1e-9) << "point " << i;
    }
}

TEST(DogEarShape, OutlineCutsTheTopRightCornerAndAnInsetKeepsTheCutParallel) {
    const QPainterPath path = DogEarShape(12, 12).path(QRectF(0, 0, 100, 40));
    expectPoints(path, {{12, 0}, {88, 0}, {100, 12}, {100, 28}, {88, 40}, {12, 40}, {0, 28}, {0, 12}, {12, 0}});
    const double fold = 10.82842712474619;  // 12 less the inset times 2 - sqrt 2
    expectPoints(DogEarShape(12, 12).inset(2).path(QRectF(0, 0, 100, 40)),
                 {{12, 2}, {98 - fold, 2}, {98, 2 + fold}, {98, 28}, {88, 38}, {12, 38}, {2, 28}, {2, 12}, {12, 2}});
    // A radius smaller than the inset gives square corners.
    const QPainterPath square = DogEarShape(6, 1).inset(2).path(QRectF(0, 0, 40, 40));
    EXPECT_EQ(square.boundingRect(), QRectF(2, 2, 36, 36));
    for (const QPointF corner : {QPointF(2.01, 37.99), QPointF(37.99, 37.99), QPointF(2.01, 2.01)})
        EXPECT_TRUE(square.contains(corner));
    EXPECT_FALSE(square.contains(QPointF(37.9, 2.1)));
    // A fold longer than the shorter side is cut to it, a radius over half of it to the half (Qt drops the empty edge).
    expectPoints(DogEarShape(50, 30).path(QRectF(0, 0, 100, 20)),
                 {{10, 0}, {80, 0}, {100, 20}, {100, 10}, {90, 20}, {10, 20}, {0, 10}, {10, 0}});
    EXPECT_TRUE(DogEarShape(12, 12).path(QRectF(0, 0, 0, 40)).isEmpty());
    EXPECT_TRUE(DogEarShape(12, 12).path(QRectF(0, 0, 40, 0)).isEmpty());
    EXPECT_TRUE(DogEarShape(12, 12).inset(20).path(QRectF(0, 0, 100, 40)).isEmpty());
    EXPECT_FALSE(DogEarShape(12, 12).inset(-5).path(QRectF(0, 0, 0, 0)).isEmpty());  // a negative inset is none
}

using SurfaceRenderings::resolve;
constexpr auto glass = SurfaceRendering::glass;
constexpr auto material = SurfaceRendering::material;
constexpr auto solid = SurfaceRendering::solid;
const std::optional<QString> unset;

// The legacy variable counts only when exactly "1", and is read at every decision.
TEST(SurfaceRendering, ReducedTransparencyWinsLegacyIsMaterialAndSolidHasABorder) {
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
    // Reduced transparency wins; forced legacy is material.
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

TEST(TextFormat, FillsPlaceholdersInOrderOrByNumberAndKeepsWhatItCannotFill) {
    const QLocale en(QLocale::English);
    const QString a = QStringLiteral("a"), b = QStringLiteral("b");
    const struct {
        const char* format;
        QVariantList values;
        QLocale locale;
        QString expected;
    } rows[]{
        {"%lld of %lld ready", {2, 3}, en, "2 of 3 ready"}, {"%2$@ then %1$@", {a, b}, en, "b then a"},
        {"Restart %@", {QStringLiteral("Kelto Sync")}, en, "Restart Kelto Sync"},
        {"%lld files", {qlonglong(1234567)}, en, "1234567 files"}, {"100%% of %d", {7}, en, "100% of 7"},
        {"%lld", {qlonglong(-5)}, en, "-5"}, {"Back to %@", {}, en, "Back to %@"},
        {"%3$@ and %x", {a}, en, "%3$@ and %x"}, {"ends with %", {1}, en, "ends with %"},
        {"%lld", {42}, QLocale(QLocale::Arabic, QLocale::Egypt), QString::fromUtf8("\u0664\u0662")},
    };
    for (const auto& row : rows) EXPECT_EQ(TextFormat::format(row.format, row.values, row.locale), row.expected) << row.format;
}

void write(const QTemporaryDir& folder, const char* name, const char* json) {
    QFile file(folder.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(json);
}

// The English key stands in for what no table has, or for a language the host does not offer.
TEST(StringTable, ALanguageTheHostDoesNotOfferReadsEnglish) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    write(folder, "vi.json", R"({"No results": "Không có kết quả", "Done": "Xong"})");
    write(folder, "fr.json", R"({"No results": 3})");
    write(folder, "de.json", "not json");
    write(folder, "ja.json", R"({"Done": "完了"})");
    const StringTable table(folder.path(), {"en", "vi", "fr", "de", "ja"});
    const QLocale vietnamese(QLocale::Vietnamese, QLocale::Vietnam), japanese(QLocale::Japanese, QLocale::Japan);
    EXPECT_EQ(table.text(QStringLiteral("No results"), vietnamese), QString::fromUtf8("Không có kết quả"));
    EXPECT_EQ(table.text(QStringLiteral("Search settings"), vietnamese), QStringLiteral("Search settings"));
    for (QLocale::Language language : {QLocale::French, QLocale::German, QLocale::English}) {
        EXPECT_EQ(table.text(QStringLiteral("No results"), QLocale(language)), QStringLiteral("No results"));
        EXPECT_EQ(table.language(QLocale(language)), QString());
    }
    const QString done = QStringLiteral("Done");
    StringTable::setHostLanguages(QStringList{"en"});
    EXPECT_EQ(table.text(done, vietnamese), done);
    EXPECT_EQ(table.language(vietnamese), QString());
    EXPECT_EQ(table.text(done, japanese), done);
    StringTable::setHostLanguages(QStringList{"en", "vi_VN"});
    EXPECT_EQ(table.text(done, vietnamese), QStringLiteral("Xong"));
    EXPECT_EQ(table.language(vietnamese), QStringLiteral("vi"));
    EXPECT_EQ(table.text(done, japanese), done);
    StringTable::setHostLanguages(std::nullopt);
    EXPECT_EQ(table.text(done, japanese), QString::fromUtf8("完了"));
}

}  // namespace
