// Renders the kit's pieces to PNG files in the build folder, in a light and a
// dark palette, for a person to look at.
#include "FenraCore/DogEar.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraLabel.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTile.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kelto {
namespace {

using Look = WidgetRender::Look;

TEST(Renders, IconsTilesDogEarsAndSurfaces) {
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("icons"), [](const Look& look) {
        QWidget sheet;
        auto* grid = new QGridLayout(&sheet);
        int index = 0;
        for (FenraIcon icon : FenraIcons::allCases()) {
            grid->addWidget(new FenraLabel(QString::fromLatin1(FenraIcons::rawValue(icon)), icon), index / 4, index % 4);
            ++index;
        }
        return WidgetRender::shownIn(sheet, look);
    }));
    // Tiles of every tint at 20, 28 and 56 points.
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("tiles"), [](const Look& look) {
        const std::array<FenraIcon, 7> symbols{FenraIcon::sync,    FenraIcon::folder,  FenraIcon::warning,
                                               FenraIcon::lock,    FenraIcon::success, FenraIcon::archive,
                                               FenraIcon::permission};
        QImage image(QSize(7 * 68, 3 * 68) * 2, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(2);
        image.fill(look.palette.color(QPalette::Window));
        QPainter painter(&image);
        for (int row = 0; row < 3; ++row) {
            for (std::size_t column = 0; column < TileTints::count; ++column) {
                FoldedTile(symbols[column], TileTints::allCases()[column], std::array{20, 28, 56}[row])
                    .paint(painter, QPointF(column * 68.0 + 6, row * 68.0 + 6), look.palette);
            }
        }
        return image;
    }));
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("dog-ears"), [](const Look& look) {
        QWidget sheet;
        auto* column = new QVBoxLayout(&sheet);
        for (Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
            auto* card = new QLabel(direction == Qt::LeftToRight ? QStringLiteral("Left to right")
                                                                 : QStringLiteral("Right to left"));
            card->setFont(FenraFont::font(FontRole::body));
            card->setAlignment(Qt::AlignCenter);
            card->setAutoFillBackground(true);
            QPalette cardPalette = look.palette;
            cardPalette.setColor(QPalette::Window, FenraTheme::surface().color(look.palette));
            cardPalette.setColor(QPalette::WindowText, FenraTheme::textPrimary().color(look.palette));
            card->setPalette(cardPalette);
            auto* ear = new DogEar(card);
            ear->setLayoutDirection(direction);
            ear->setFixedSize(220, 80);
            column->addWidget(ear);
        }
        return WidgetRender::shownIn(sheet, look);
    }));
    for (const bool solid : {false, true}) {
        FenraPreferences::shared().setReduceTransparency(solid);
        const QString name = solid ? QStringLiteral("surfaces-solid") : QStringLiteral("surfaces-material");
        EXPECT_TRUE(WidgetRender::saveLooks(name, [](const Look& look) {
            QWidget sheet;
            auto* grid = new QGridLayout(&sheet);
            int column = 0;
            for (const auto& [role, name] : {std::pair{FenraSurface::panel, "panel"}, std::pair{FenraSurface::hud, "hud"},
                                             std::pair{FenraSurface::popover, "popover"},
                                             std::pair{FenraSurface::toolbarCapsule, "toolbarCapsule"}}) {
                auto* text = new QLabel(QString::fromLatin1(name));
                text->setAlignment(Qt::AlignCenter);
                auto* surface = new FenraSurfaceFrame(role,
                                                      role == FenraSurface::toolbarCapsule
                                                          ? InsettableShape::capsule()
                                                          : InsettableShape::roundedRectangle(12),
                                                      false, text);
                surface->setFixedSize(160, 70);
                grid->addWidget(surface, 0, column++);
            }
            return WidgetRender::shownIn(sheet, look);
        }));
    }
    FenraPreferences::shared().setReduceTransparency(false);
}

}  // namespace
}  // namespace kelto
