// Renders the settings pieces to PNG files in the build folder, in a light
// and a dark palette, for a person to look at.
#include "FenraCore/FenraTheme.h"
#include "FenraSettings/ChoiceTiles.h"
#include "FenraSettings/KeyCap.h"
#include "FenraSettings/SettingsRow.h"
#include "FenraSettings/SettingsSearchQuery.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// A swatch of a theme colour, as a preview.
QWidget* swatch(const FenraColor& colour, ColorScheme scheme) {
    auto* preview = new QWidget;
    preview->setFixedSize(56, 36);
    preview->setAutoFillBackground(true);
    QPalette palette = preview->palette();
    palette.setColor(QPalette::Window, colour.color(scheme));
    preview->setPalette(palette);
    return preview;
}

TEST(Renders, ChoiceTilesRowsAndKeyCaps) {
    enum class Theme { system, light, dark };
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("settings-pieces"), [](const WidgetRender::Look& look) {
        QWidget sheet;
        auto* column = new QVBoxLayout(&sheet);
        column->setContentsMargins(16, 16, 16, 16);
        column->setSpacing(14);
        Binding<Theme> theme(Theme::light);
        column->addWidget(new ChoiceTiles<Theme>(
            theme, {{Theme::system, QStringLiteral("Match the system"), swatch(FenraTheme::accent(), ColorScheme::light)},
                    {Theme::light, QStringLiteral("Light"), swatch(FenraTheme::background(), ColorScheme::light)},
                    {Theme::dark, QStringLiteral("Dark, with a longer title that wraps"),
                     swatch(FenraTheme::background(), ColorScheme::dark)}}));
        Binding<QString> query(QStringLiteral("login"));
        SettingsSearchQuery::provide(sheet, query);
        column->addWidget(new SettingsRow(QStringLiteral("Open at login"),
                                          QStringLiteral("Starts Kelto Sync when you log in."),
                                          [] { return new QCheckBox; }));
        column->addWidget(new SettingsRow(QStringLiteral("Show in the menu bar"), std::nullopt,
                                          [] { return new QCheckBox; }));
        auto* keys = new QHBoxLayout;
        for (const char* key : {"Ctrl", "F", "⌘ 1", "⌘ 8", "Esc"}) keys->addWidget(new KeyCap(QString::fromUtf8(key)));
        keys->addStretch();
        column->addLayout(keys);
        return WidgetRender::shownIn(sheet, look);
    }));
}

}  // namespace
}  // namespace kelto
