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
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace kelto {
namespace {

using Look = WidgetRender::Look;

// Each state of the menu-bar picture, coloured as a panel would: the mask
// in the text colour on the window colour.
TEST(Renders, MenuBarStates) {
    const std::vector<MenuBarIconState> states{
        MenuBarIconState::idle(),        MenuBarIconState::progress(0), MenuBarIconState::progress(0.25),
        MenuBarIconState::progress(0.6), MenuBarIconState::progress(1), MenuBarIconState::paused(),
        MenuBarIconState::attention()};
    const TemplateMark mark = KeltoProductMarks::templateMark(KeltoProductMark::sync);
    for (const int ratio : {1, 2}) {
        EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("design-menu-bar-%1x").arg(ratio), [&](const Look& look) {
            QImage strip(static_cast<int>(states.size()) * 24 * ratio, 24 * ratio, QImage::Format_ARGB32_Premultiplied);
            strip.setDevicePixelRatio(ratio);
            strip.fill(look.palette.color(QPalette::Window));
            QPainter painter(&strip);
            for (std::size_t index = 0; index < states.size(); ++index) {
                QImage mask = MenuBarIcon::image(mark, states[index], QStringLiteral("Kelto Sync"))
                                  .icon.pixmap(QSize(18, 18), ratio)
                                  .toImage()
                                  .convertToFormat(QImage::Format_ARGB32_Premultiplied);
                QPainter tint(&mask);
                tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
                tint.fillRect(mask.rect(), look.palette.color(QPalette::WindowText));
                tint.end();
                painter.drawImage(QPointF(static_cast<double>(index) * 24 + 3, 3), mask);
            }
            return strip;
        }));
    }
}

TEST(Renders, LogoIconControlsAndSlider) {
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("design-brand"), [](const Look& look) {
        QWidget brand;
        auto* layout = new QHBoxLayout(&brand);
        for (QWidget* view : {static_cast<QWidget*>(new KeltoLogo(KeltoLogo::Style::color)),
                              static_cast<QWidget*>(new KeltoLogo(KeltoLogo::Style::template_)),
                              static_cast<QWidget*>(new KeltoAppIcon)}) {
            view->setFixedSize(128, 128);
            layout->addWidget(view);
        }
        return WidgetRender::shownIn(brand, look);
    }));
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("design-controls"), [](const Look& look) {
        QWidget panel;
        auto* grid = new QGridLayout(&panel);
        grid->setSpacing(12);
        const auto button = [](const char* text, void (*style)(QPushButton&)) {
            auto* made = new QPushButton(QString::fromLatin1(text));
            style(*made);
            return made;
        };
        QPushButton* disabled = button("Continue", KeltoPrimaryButtonStyle::apply);
        disabled->setEnabled(false);
        QPushButton* pressed = button("Pressed", KeltoSecondaryButtonStyle::apply);
        pressed->setDown(true);
        grid->addWidget(button("Grant access", KeltoPrimaryButtonStyle::apply), 0, 0);
        grid->addWidget(disabled, 0, 1);
        grid->addWidget(button("Set up later", KeltoSecondaryButtonStyle::apply), 0, 2);
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
        panel.show();
        QApplication::setActiveWindow(&panel);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&panel));
        focused->setFocus();
        return WidgetRender::shownIn(panel, look);
    }));
}

}  // namespace
}  // namespace kelto
