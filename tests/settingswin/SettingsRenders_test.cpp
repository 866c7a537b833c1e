// Writes the licences sheet and the update windows to PNG files in the build
// folder's renders/; the settings panes are in the screenshots.
#include "Kelto_Sync/Settings/LicensesView.h"
#include "Kelto_Sync/Settings/UpdateWindow.h"
#include "tests/settingswin/SettingsFixture.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QFile>

namespace kelto {
namespace {

using SettingsRenders = test::SettingsFixture;

TEST_F(SettingsRenders, LicencesAndUpdateWindows) {
    const QString licenses = home.path() + QStringLiteral("/Licenses");
    QDir().mkpath(licenses);
    QFile::copy(QStringLiteral("/usr/share/common-licenses/GPL-3"), licenses + QStringLiteral("/COPYING"));
    QFile(licenses + QStringLiteral("/rsync-3.2.7.tar.gz")).open(QIODevice::WriteOnly);
    const auto inLook = [](QWidget& widget, WidgetRender::Look look) {
        look.palette = WidgetRender::withWindowButtons(look.palette);
        return WidgetRender::shownIn(widget, look);
    };
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("licenses"), [&](const WidgetRender::Look& look) {
        LicensesView sheet(SyncStrings::application(), licenses);
        return inLook(sheet, look);
    }));
    for (const auto& [name, result] :
         {std::pair{"no-feed", UpdateCheckResult::noFeed()},
          std::pair{"available", UpdateCheckResult::available("1.5", "60", "https://example.org/kelto-sync")},
          std::pair{"failed", UpdateCheckResult::failed("Host example.org not found")}}) {
        EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("update-") + QString::fromLatin1(name),
                                            [&](const WidgetRender::Look& look) {
                                                UpdateWindow window(result);
                                                window.resize(window.sizeHint());
                                                return inLook(window, look);
                                            }));
    }
}

}  // namespace
}  // namespace kelto
