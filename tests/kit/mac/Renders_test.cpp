// Renders the settings window's content to PNG files in the build folder, in
// a light and a dark palette, for a person to look at.
#include "FenraMac/SettingsShell.h"
#include "tests/kit/mac/TestPanes.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace kelto {
namespace {

std::vector<SettingsPane> windowPanes() {
    return {testPane("general", "General", group("app"), {"Open at login", "Show in the menu bar"}, {"login"}, nullptr,
                     FenraIcon::sync, TileTint::kelto),
            testPane("notifications", "Notifications", group("app"), {"Notify when a sync fails"}, {}, nullptr,
                     FenraIcon::info, TileTint::coral),
            testPane("archive", "Archive", group("data", QStringLiteral("Data")), {"Keep replaced files"}, {},
                     nullptr, FenraIcon::archive, TileTint::green),
            testPane("permissions", "Permissions", group("data", QStringLiteral("Data")), {}, {}, nullptr,
                     FenraIcon::lock, TileTint::graphite)};
}

void render(SettingsShell& shell, const QPalette& palette, const QString& name) {
    shell.setPalette(palette);
    shell.setAutoFillBackground(true);
    shell.resize(780, 600);
    shell.show();
    const QString path = WidgetRender::savePng(WidgetRender::image(shell, 2), name);
    ASSERT_FALSE(path.isEmpty()) << name.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 0);
}

TEST(Renders, SettingsWindow) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        Binding<QString> selection(QStringLiteral("general"));
        SettingsShell shell(windowPanes(), selection, QStringLiteral("general"));
        render(shell, look.palette, QStringLiteral("settings-window-%1").arg(look.name));
        shell.query().set(QStringLiteral("login"));
        render(shell, look.palette, QStringLiteral("settings-window-search-%1").arg(look.name));

        Binding<QString> vietnamese(QStringLiteral("general"));
        SettingsShell empty(windowPanes(), vietnamese, QStringLiteral("general"));
        empty.setLocale(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
        empty.query().set(QStringLiteral("nothing like this"));
        render(empty, look.palette, QStringLiteral("settings-window-no-results-vi-%1").arg(look.name));
    }
}

}  // namespace
}  // namespace kelto
