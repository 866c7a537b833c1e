// Writes the settings panes, the licences sheet and the update windows to
// PNG files in the build folder's renders/.
#include "Kelto_Sync/Settings/LicensesView.h"
#include "Kelto_Sync/Settings/SettingsView.h"
#include "Kelto_Sync/Settings/UpdateWindow.h"
#include "tests/settingswin/SettingsFixture.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>

namespace kelto {
namespace {

void render(QWidget& widget, const QPalette& palette, const QString& name, QSize size) {
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
    widget.resize(size);
    widget.show();
    const QString path = WidgetRender::savePng(WidgetRender::image(widget, 2), name);
    ASSERT_FALSE(path.isEmpty()) << name.toStdString();
    EXPECT_GT(QFileInfo(path).size(), 0);
}

using SettingsRenders = test::SettingsFixture;

TEST_F(SettingsRenders, PanesLicencesAndUpdateWindows) {
    const QString licenses = home.path() + QStringLiteral("/Licenses");
    QDir().mkpath(licenses);
    QFile::copy(QStringLiteral("/usr/share/common-licenses/GPL-3"), licenses + QStringLiteral("/COPYING"));
    QFile(licenses + QStringLiteral("/rsync-3.2.7.tar.gz")).open(QIODevice::WriteOnly);
    auto updater = makeUpdater();
    updater->start();

    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        const QPalette palette = WidgetRender::withWindowButtons(look.palette);
        const QString suffix = QStringLiteral("-") + QString::fromLatin1(look.name);
        SettingsViewActions actions;
        actions.probeFullDiskAccess = [] { return PermissionStatus::missing; };
        actions.bundle = {QStringLiteral("1.4"), QStringLiteral("57"), {}};
        actions.licensesFolder = licenses;
        SettingsView view(*updater, SyncStrings::application(), actions);
        QSignalSpy probed(&view, &SettingsView::fullDiskAccessProbed);
        for (const char* pane : {"general", "permissions", "about"}) {
            view.selection().set(QString::fromLatin1(pane));
            if (QString::fromLatin1(pane) == "permissions" && probed.isEmpty()) {
                ASSERT_TRUE(probed.wait());
            }
            render(view, palette, QStringLiteral("settings-") + QString::fromLatin1(pane) + suffix, {780, 600});
            if (QString::fromLatin1(pane) == "permissions") {
                // Made anew once the probe answers: the render shows the new row.
                const auto* row = view.findChild<QWidget*>(QStringLiteral("fullDiskAccess"));
                ASSERT_NE(row, nullptr);
                EXPECT_TRUE(row->isVisible());
                EXPECT_FALSE(row->geometry().isEmpty());
            }
        }

        LicensesView sheet(SyncStrings::application(), licenses);
        render(sheet, palette, QStringLiteral("licenses") + suffix, sheet.size());

        const std::vector<std::pair<const char*, UpdateCheckResult>> results{
            {"no-feed", UpdateCheckResult::noFeed()},
            {"available", UpdateCheckResult::available("1.5", "60", "https://example.org/kelto-sync")},
            {"failed", UpdateCheckResult::failed("Host example.org not found")}};
        for (const auto& [name, result] : results) {
            UpdateWindow window(result);
            render(window, palette, QStringLiteral("update-") + QString::fromLatin1(name) + suffix, window.sizeHint());
        }
    }
}

}  // namespace
}  // namespace kelto
