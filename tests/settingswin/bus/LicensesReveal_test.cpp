// Runs on a session bus of its own (dbus-run-session).
#include "Kelto_Sync/Settings/LicensesView.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/permissions/bus/FakeFileManager.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace kelto {
namespace {

class LicensesRevealTest : public testing::Test {
protected:
    LicensesRevealTest() {
        environment.set("PATH", programs.folder().toUtf8());
        QDir().mkpath(folder);
        for (const char* name : {"COPYING", "rsync-3.2.7.tar.gz"}) {
            QFile file(folder + u'/' + QString::fromLatin1(name));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        view.show();
    }
    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/Licenses");
    test::FakePrograms programs;
    test::ScopedEnvironment environment;
    LicensesView view{SyncStrings(), folder};
};

// With nothing to open the folder with, the view says so under the button, and an alert names the archive in text
// that can be copied; without a file manager the folder opens; a file manager shows the archive itself.
TEST_F(LicensesRevealTest, NoFileManagerSaysSo) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    programs.add(QStringLiteral("xdg-open"), {}, 3);
    QSignalSpy revealed(&view, &LicensesView::revealed);
    view.revealButton()->click();
    ASSERT_TRUE(revealed.wait());
    EXPECT_FALSE(revealed.at(0).at(0).toBool());
    EXPECT_TRUE(view.revealFailedLabel()->isVisible());
    EXPECT_EQ(view.revealFailedLabel()->text(), QStringLiteral("No file manager could show the bundled source."));
    auto* alert = view.findChild<QMessageBox*>(QStringLiteral("revealFailedAlert"));
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), view.revealFailedLabel()->text());
    EXPECT_EQ(alert->informativeText(), folder + QStringLiteral("/rsync-3.2.7.tar.gz"));
    bool selectable = false;
    for (const QLabel* label : alert->findChildren<QLabel*>())
        if (label->text() == alert->informativeText()) selectable = label->textInteractionFlags() & Qt::TextSelectableByMouse;
    EXPECT_TRUE(selectable);
    ASSERT_TRUE(programs.next());
    programs.add(QStringLiteral("xdg-open"));
    view.revealButton()->click();
    ASSERT_TRUE(revealed.wait());
    EXPECT_TRUE(revealed.at(1).at(0).toBool());
    EXPECT_EQ(programs.next().value_or(test::FakePrograms::Start{}).arguments, QStringList{folder});
    FakeFileManager manager;
    ASSERT_TRUE(manager.registered);
    QSignalSpy shown(&manager, &FakeFileManager::itemsShown);
    view.revealButton()->click();
    ASSERT_TRUE(shown.wait());
    EXPECT_EQ(shown.at(0).at(0).toStringList(), QStringList{"file://" + folder + "/rsync-3.2.7.tar.gz"});
}

}  // namespace
}  // namespace kelto

