// Renders the design package to PNG files in the build folder, in a light
// and a dark palette, for a person to look at.
#include "FenraMac/MenuBarIcon.h"
#include "KeltoDesign/KeltoAppIcon.h"
#include "KeltoDesign/KeltoCheckbox.h"
#include "KeltoDesign/KeltoChip.h"
#include "KeltoDesign/KeltoLogo.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "KeltoDesign/KeltoProductMark.h"
#include "KeltoDesign/KeltoSecondaryButtonStyle.h"
#include "KeltoDesign/KeltoSegmented.h"
#include "KeltoDesign/KeltoSlider.h"
#include "KeltoDesign/KeltoTextFieldStyle.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kelto {
namespace {

struct Look {
    const char* name;
    QPalette palette;
};

std::vector<Look> looks() {
    return {{"light", WidgetRender::lightPalette()}, {"dark", WidgetRender::darkPalette()}};
}

void save(const QImage& image, const QString& name) {
    const QString path = WidgetRender::savePng(image, name);
    ASSERT_FALSE(path.isEmpty()) << name.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 0);
}

void render(QWidget& widget, const QPalette& palette, const QString& name) {
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
    widget.show();
    save(WidgetRender::image(widget, 2), name);
}

TEST(Renders, MenuBarStates) {
    const std::vector<MenuBarIconState> states{
        MenuBarIconState::idle(),          MenuBarIconState::progress(0),    MenuBarIconState::progress(0.25),
        MenuBarIconState::progress(0.6),   MenuBarIconState::progress(1),    MenuBarIconState::paused(),
        MenuBarIconState::attention()};
    const TemplateMark mark = KeltoProductMarks::templateMark(KeltoProductMark::sync);
    for (const Look& look : looks()) {
        for (const int ratio : {1, 2}) {
            // Coloured as a panel would: the mask in the text colour on the window colour.
            const int cell = 24;
            QImage strip(static_cast<int>(states.size()) * cell * ratio, cell * ratio, QImage::Format_ARGB32_Premultiplied);
            strip.setDevicePixelRatio(ratio);
            strip.fill(look.palette.color(QPalette::Window));
            QPainter painter(&strip);
            for (std::size_t index = 0; index < states.size(); ++index) {
                QImage mask = MenuBarIcon::image(mark, states[index], QStringLiteral("Kelto Sync"))
                                  .icon.pixmap(QSize(18, 18), ratio)
                                  .toImage()
                                  .convertToFormat(QImage::Format_ARGB32_Premultiplied);
                {
                    QPainter tint(&mask);
                    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
                    tint.fillRect(mask.rect(), look.palette.color(QPalette::WindowText));
                }
                painter.drawImage(QPointF(static_cast<double>(index) * cell + 3, 3), mask);
            }
            painter.end();
            save(strip, QStringLiteral("design-menu-bar-%1x-%2").arg(ratio).arg(look.name));
        }
    }
}

TEST(Renders, LogoAndAppIcon) {
    for (const Look& look : looks()) {
        QWidget brand;
        auto* layout = new QHBoxLayout(&brand);
        auto* colour = new KeltoLogo(KeltoLogo::Style::color);
        auto* stencil = new KeltoLogo(KeltoLogo::Style::template_);
        auto* icon = new KeltoAppIcon;
        for (QWidget* view : {static_cast<QWidget*>(colour), static_cast<QWidget*>(stencil), static_cast<QWidget*>(icon)}) {
            view->setFixedSize(128, 128);
            layout->addWidget(view);
        }
        render(brand, look.palette, QStringLiteral("design-brand-%1").arg(look.name));
    }
}

TEST(Renders, ControlsAndSlider) {
    for (const Look& look : looks()) {
        QWidget panel;
        auto* grid = new QGridLayout(&panel);
        grid->setSpacing(12);

        auto* primary = new QPushButton(QStringLiteral("Grant access"));
        KeltoPrimaryButtonStyle::apply(*primary);
        auto* disabled = new QPushButton(QStringLiteral("Continue"));
        KeltoPrimaryButtonStyle::apply(*disabled);
        disabled->setEnabled(false);
        auto* secondary = new QPushButton(QStringLiteral("Set up later"));
        KeltoSecondaryButtonStyle::apply(*secondary);
        auto* pressed = new QPushButton(QStringLiteral("Pressed"));
        KeltoSecondaryButtonStyle::apply(*pressed);
        pressed->setDown(true);
        grid->addWidget(primary, 0, 0);
        grid->addWidget(disabled, 0, 1);
        grid->addWidget(secondary, 0, 2);
        grid->addWidget(pressed, 0, 3);

        Binding<int> mode(2);
        grid->addWidget(new KeltoSegmented<int>(mode, {{QStringLiteral("Mirror"), 1}, {QStringLiteral("Two-way"), 2},
                                                       {QStringLiteral("Copy"), 3}}),
                        1, 0, 1, 4);

        auto* on = new KeltoCheckbox(QStringLiteral("Keep replaced files"));
        on->setChecked(true);
        grid->addWidget(on, 2, 0, 1, 2);
        grid->addWidget(new KeltoCheckbox(QStringLiteral("Notify on failure")), 2, 2, 1, 2);
        grid->addWidget(new KeltoChip(QStringLiteral("Daily"), true, [] {}), 3, 0);
        grid->addWidget(new KeltoChip(QStringLiteral("Weekly"), false, [] {}), 3, 1);

        auto* focused = new QLineEdit(QStringLiteral("~/Documents"));
        KeltoTextFieldStyle::apply(*focused);
        auto* field = new QLineEdit;
        field->setPlaceholderText(QStringLiteral("Destination"));
        KeltoTextFieldStyle::apply(*field);
        grid->addWidget(focused, 4, 0, 1, 2);
        grid->addWidget(field, 4, 2, 1, 2);

        Binding<double> quality(0.4);
        grid->addWidget(new KeltoSlider(quality, {0, 1}), 5, 0, 1, 4);

        panel.setPalette(look.palette);
        panel.setAutoFillBackground(true);
        panel.show();
        QApplication::setActiveWindow(&panel);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
        focused->setFocus();
        save(WidgetRender::image(panel, 2), QStringLiteral("design-controls-%1").arg(look.name));
    }
}

}  // namespace
}  // namespace kelto
