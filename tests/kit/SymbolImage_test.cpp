#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraLabel.h"
#include "FenraCore/SymbolImage.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QAccessible>
#include <QLabel>
#include <QPixmap>

#include <gtest/gtest.h>

namespace kelto {
namespace {

struct Coverage {
    int painted = 0;
    int offTint = 0;
};

// Counts the painted pixels of an image, and those whose colour is not the tint.
Coverage coverageOf(const QImage& image, const QColor& tint) {
    Coverage coverage;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0) {
                continue;
            }
            ++coverage.painted;
            // Faint edge pixels lose precision when unpremultiplied.
            const int tolerance = c.alpha() >= 128 ? 1 : 255 / c.alpha() + 1;
            if (std::abs(c.red() - tint.red()) > tolerance || std::abs(c.green() - tint.green()) > tolerance ||
                std::abs(c.blue() - tint.blue()) > tolerance) {
                ++coverage.offTint;
            }
        }
    }
    return coverage;
}

TEST(SymbolImage, EveryIconHasArtworkAndDrawsInItsTint) {
    const QColor tint(200, 30, 90);
    for (FenraIcon icon : FenraIcons::allCases()) {
        const QString name = symbolName(icon);
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(SymbolImage::hasArtwork(name));
        const QIcon image = SymbolImage::icon(icon, tint);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.name(), name);
        const Coverage coverage = coverageOf(image.pixmap(QSize(24, 24), 1.0).toImage(), tint);
        EXPECT_GT(coverage.painted, 24);
        EXPECT_EQ(coverage.offTint, 0);
    }
}

TEST(SymbolImage, DrawsAtThePixelRatioAskedFor) {
    const QIcon image = SymbolImage::icon(FenraIcon::folder, Qt::black);
    const QPixmap sharp = image.pixmap(QSize(20, 20), 2.0);
    EXPECT_EQ(sharp.size(), QSize(40, 40));
    EXPECT_EQ(sharp.devicePixelRatio(), 2.0);
    const QPixmap large = image.pixmap(QSize(256, 256), 1.0);
    EXPECT_EQ(large.size(), QSize(256, 256));
    // Vector artwork: twice the side paints about four times the pixels.
    const int small = coverageOf(image.pixmap(QSize(32, 32), 1.0).toImage(), Qt::black).painted;
    const int big = coverageOf(image.pixmap(QSize(64, 64), 1.0).toImage(), Qt::black).painted;
    EXPECT_GT(big, small * 3);
}

TEST(SymbolImage, DisabledIconsAreFaded) {
    const QIcon image = SymbolImage::icon(FenraIcon::success, QColor(0, 0, 255));
    const QImage normal = image.pixmap(QSize(24, 24), 1.0, QIcon::Normal).toImage();
    const QImage disabled = image.pixmap(QSize(24, 24), 1.0, QIcon::Disabled).toImage();
    // The filled circle's centre row, left of the check mark.
    EXPECT_EQ(normal.pixelColor(5, 12).alpha(), 255);
    EXPECT_LT(disabled.pixelColor(5, 12).alpha(), 128);
    EXPECT_GT(disabled.pixelColor(5, 12).alpha(), 0);
}

TEST(SymbolImage, NamesWithoutArtworkAreLeftToTheIconTheme) {
    EXPECT_FALSE(SymbolImage::hasArtwork(QStringLiteral("no.such.symbol")));
    EXPECT_FALSE(SymbolImage::hasArtwork(QString()));
    // No theme has such a name, and the kit does not draw it.
    EXPECT_TRUE(SymbolImage::named(QStringLiteral("no.such.symbol"), Qt::black).isNull());
}

// A second catalogue adopts the symbol protocol with a function beside its type.
enum class Marks { syncMark };
QString symbolName(Marks) {
    return QStringLiteral("arrow.triangle.2.circlepath");
}

TEST(FenraLabel, ShowsItsTitleVerbatimBesideTheSymbol) {
    const QString title = QStringLiteral("<b>Sync</b> &now");
    FenraLabel label(title, FenraIcon::sync);
    EXPECT_EQ(label.title(), title);
    EXPECT_EQ(label.symbolName(), QStringLiteral("arrow.triangle.2.circlepath"));

    const QList<QLabel*> parts = label.findChildren<QLabel*>();
    ASSERT_EQ(parts.size(), 2);
    QLabel* icon = parts[0]->pixmap().isNull() ? parts[1] : parts[0];
    QLabel* text = icon == parts[0] ? parts[1] : parts[0];
    EXPECT_EQ(text->textFormat(), Qt::PlainText);
    EXPECT_FALSE(icon->pixmap().isNull());
    EXPECT_EQ(icon->pixmap().height(), text->fontMetrics().height());

    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&label);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), title);
    QAccessibleInterface* textNode = QAccessible::queryAccessibleInterface(text);
    ASSERT_NE(textNode, nullptr);
    EXPECT_EQ(textNode->text(QAccessible::Name), title);

    FenraLabel other(QStringLiteral("Marks"), Marks::syncMark);
    EXPECT_EQ(other.symbolName(), label.symbolName());
}

TEST(FenraLabel, SymbolFollowsTheTextColour) {
    FenraLabel label(QStringLiteral("Folder"), FenraIcon::folder);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, QColor(0, 128, 0));
    label.setPalette(palette);
    QLabel* icon = nullptr;
    for (QLabel* part : label.findChildren<QLabel*>()) {
        if (!part->pixmap().isNull()) {
            icon = part;
        }
    }
    ASSERT_NE(icon, nullptr);
    const Coverage coverage = coverageOf(icon->pixmap().toImage(), QColor(0, 128, 0));
    EXPECT_GT(coverage.painted, 0);
    EXPECT_EQ(coverage.offTint, 0);
}

// At the size of a row's button, "Stop" reads as a stop sign: a filled
// square inside its ring, with room between them, not a radio button's dot.
TEST(SymbolImage, TheStopSymbolIsAFilledSquareInARing) {
    const QImage image = SymbolImage::icon(FenraIcon::stopped, Qt::black).pixmap(QSize(16, 16)).toImage();
    ASSERT_EQ(image.size(), QSize(16, 16));
    EXPECT_EQ(WidgetRender::pixel(image, 8, 8).alpha(), 255) << "the middle is filled";
    EXPECT_GT(WidgetRender::pixel(image, 6, 6).alpha(), 200) << "square to its corners";
    EXPECT_EQ(WidgetRender::pixel(image, 4, 8).alpha(), 0) << "apart from the ring";
    EXPECT_GT(WidgetRender::pixel(image, 2, 8).alpha(), 100) << "the ring";
}

}  // namespace
}  // namespace kelto
