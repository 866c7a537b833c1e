// Runs on Xvfb with a session bus of its own (run-with-tray-bus.sh), where
// Qt's generic theme offers the D-Bus tray once a watcher has a host.
#include "Kelto_Sync/Tray/TrayPresence.h"
#include "tests/notifications/tray/FakeStatusNotifierWatcher.h"

#include <QCursor>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>

namespace kelto {
namespace {

TEST(StatusNotifierTray, TheIconRegistersWithTheWatcherAndItsActivateOpensThePopupAtTheCursor) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(address, nullptr) << "run under dbus-run-session";
    // Before any tray icon exists: Qt looks for the watcher once.
    test::FakeStatusNotifierWatcher watcher(address);

    TrayPresence tray({}, [] { return new QLabel(QStringLiteral("content")); }, SyncStrings());
    ASSERT_TRUE(tray.show());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items().empty(); }, 5'000));
    EXPECT_EQ(tray.icon().contextMenu(), &tray.menu());

    QCursor::setPos(200, 150);
    QSignalSpy opened(&tray, &TrayPresence::popupOpened);
    watcher.activate(watcher.items().front(), 200, 150);
    ASSERT_TRUE(opened.wait(5'000));
    ASSERT_NE(tray.popup(), nullptr);
    // The D-Bus tray reports no geometry: the popup hangs from the cursor.
    EXPECT_TRUE(tray.icon().geometry().isEmpty());
    EXPECT_EQ(tray.popup()->pos().y(), QCursor::pos().y() + 1);
}

}  // namespace
}  // namespace kelto
