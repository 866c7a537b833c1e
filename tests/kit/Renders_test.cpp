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

#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kelto {
namespace {

std::unique_ptr<QWidget> page(const QPalette& palette) {
    auto page = std::make_unique<QWidget>();
    page->setPalette(palette);
    page->setAutoFillBackground(true);
    return page;
}

void expectSaved(const QImage& image, const QString& name) {
    const QString path = WidgetRender::savePng(image, name);
    ASSERT_FALSE(path.isEmpty()) << name.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 0);
}

TEST(Renders, Icons) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        auto sheet = page(look.palette);
        auto* grid = new QGridLayout(sheet.get());
        int index = 0;
        for (FenraIcon icon : FenraIcons::allCases()) {
            auto* label = new FenraLabel(QString::fromLatin1(FenraIcons::rawValue(icon)), icon);
            grid->addWidget(label, index / 4, index % 4);
            ++index;
        }
        sheet->adjustSize();
        expectSaved(WidgetRender::image(*sheet, 2), QStringLiteral("icons-%1").arg(look.name));
    }
}

TEST(Renders, TilesAt20And28And56) {
    const std::array<double, 3> sizes{20, 28, 56};
    const std::array<FenraIcon, 7> symbols{FenraIcon::sync, FenraIcon::folder, FenraIcon::warning, FenraIcon::lock,
                                           FenraIcon::success, FenraIcon::archive, FenraIcon::permission};
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        const qreal ratio = 2;
        QImage image(QSize(7 * 68, 3 * 68) * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(look.palette.color(QPalette::Window));
        QPainter painter(&image);
        for (std::size_t row = 0; row < sizes.size(); ++row) {
            for (std::size_t column = 0; column < TileTints::count; ++column) {
                const FoldedTile tile(symbols[column], TileTints::allCases()[column], sizes[row]);
                tile.paint(painter, QPointF(column * 68.0 + 6, row * 68.0 + 6), look.palette);
            }
        }
        painter.end();
        expectSaved(image, QStringLiteral("tiles-%1").arg(look.name));
    }
}

TEST(Renders, DogEars) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        auto sheet = page(look.palette);
        auto* column = new QVBoxLayout(sheet.get());
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
        sheet->adjustSize();
        expectSaved(WidgetRender::image(*sheet, 2), QStringLiteral("dog-ears-%1").arg(look.name));
    }
}

TEST(Renders, SurfaceRoles) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        auto sheet = page(look.palette);
        auto* grid = new QGridLayout(sheet.get());
        const std::array<std::pair<FenraSurface, const char*>, 4> roles{{{FenraSurface::panel, "panel"},
                                                                         {FenraSurface::hud, "hud"},
                                                                         {FenraSurface::popover, "popover"},
                                                                         {FenraSurface::toolbarCapsule, "toolbarCapsule"}}};
        for (std::size_t i = 0; i < roles.size(); ++i) {
            auto* text = new QLabel(QString::fromLatin1(roles[i].second));
            text->setAlignment(Qt::AlignCenter);
            const InsettableShape shape = roles[i].first == FenraSurface::toolbarCapsule
                                              ? InsettableShape::capsule()
                                              : InsettableShape::roundedRectangle(12);
            auto* surface = new FenraSurfaceFrame(roles[i].first, shape, false, text);
            surface->setFixedSize(160, 70);
            grid->addWidget(surface, 0, static_cast<int>(i));
        }
        sheet->adjustSize();
        expectSaved(WidgetRender::image(*sheet, 2), QStringLiteral("surfaces-material-%1").arg(look.name));
        FenraPreferences::shared().setReduceTransparency(true);
        expectSaved(WidgetRender::image(*sheet, 2), QStringLiteral("surfaces-solid-%1").arg(look.name));
        FenraPreferences::shared().setReduceTransparency(false);
    }
}

}  // namespace
}  // namespace kelto
