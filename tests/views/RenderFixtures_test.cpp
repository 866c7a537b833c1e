// What the renders are taken with: palettes that tell disabled controls apart, and layouts that have settled.
#include "tests/support/widgets/WidgetRender.h"
#include <QLabel>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(RenderFixtures, DisabledTextDiffersFromEnabledTextInEveryLook) {
    for (const auto& look : WidgetRender::looks()) {
        for (const QPalette& palette : {look.palette, WidgetRender::withWindowButtons(look.palette)}) {
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
                EXPECT_NE(palette.color(QPalette::Disabled, role), palette.color(QPalette::Active, role))
                    << look.name << " role " << role;
                EXPECT_EQ(palette.color(QPalette::Inactive, role), palette.color(QPalette::Active, role))
                    << look.name << " role " << role;
            }
        }
    }
}

TEST(RenderFixtures, ARowAddedToAShownLayoutIsInTheRender) {
    QWidget widget;
    auto* layout = new QVBoxLayout(&widget);
    layout->addWidget(new QLabel(QStringLiteral("first"), &widget));
    widget.resize(200, 200);
    widget.show();
    WidgetRender::image(widget);
    auto* added = new QLabel(QStringLiteral("added"));
    layout->addWidget(added);
    WidgetRender::image(widget);
    EXPECT_TRUE(added->isVisible());
    EXPECT_FALSE(added->geometry().isEmpty());
    EXPECT_TRUE(widget.rect().contains(added->geometry()));
}

}  // namespace
}  // namespace kelto
