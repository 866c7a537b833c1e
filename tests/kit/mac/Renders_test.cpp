// Renders the settings window's content to PNG files in the build folder, in
// a light and a dark palette, for a person to look at: the first pane, a
// search, and no results in Vietnamese.
#include "FenraMac/SettingsShell.h"
#include "tests/kit/mac/TestPanes.h"
#include "tests/support/widgets/WidgetRender.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(Renders, SettingsWindow) {
    const std::vector<SettingsPane> panes{
        testPane("general", "General", group("app"), {"Open at login", "Show in the menu bar"}, {"login"}, nullptr,
                 FenraIcon::sync, TileTint::kelto),
        testPane("notifications", "Notifications", group("app"), {"Notify when a sync fails"}, {}, nullptr,
                 FenraIcon::info, TileTint::coral),
        testPane("archive", "Archive", group("data", QStringLiteral("Data")), {"Keep replaced files"}, {}, nullptr,
                 FenraIcon::archive, TileTint::green),
        testPane("permissions", "Permissions", group("data", QStringLiteral("Data")), {}, {}, nullptr, FenraIcon::lock,
                 TileTint::graphite)};
    for (const auto& [name, query, locale] : {std::tuple{"settings-window", "", QLocale(QLocale::English)},
                                              std::tuple{"settings-window-search", "login", QLocale(QLocale::English)},
                                              std::tuple{"settings-window-no-results-vi", "nothing like this",
                                                         QLocale(QLocale::Vietnamese, QLocale::Vietnam)}}) {
        EXPECT_TRUE(WidgetRender::saveLooks(QString::fromLatin1(name), [&](const WidgetRender::Look& look) {
            Binding<QString> selection(QStringLiteral("general"));
            SettingsShell shell(panes, selection, QStringLiteral("general"));
            shell.setLocale(locale);
            shell.query().set(QString::fromLatin1(query));
            shell.resize(780, 600);
            return WidgetRender::shownIn(shell, look);
        })) << name;
    }
}

}  // namespace
}  // namespace kelto
