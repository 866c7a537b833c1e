#include "Kelto_Sync/Tray/TrayPresence.h"

#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "tests/views/support/FakeAppModel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(TrayPresence, WithoutATrayTheMenuIsStillSetAndEachEntryCallsItsAction) {
    struct {
        int open = 0, syncAll = 0, settings = 0, quit = 0;
    } calls;
    TrayPresence tray({[&] { ++calls.open; }, [&] { ++calls.syncAll; }, [&] { ++calls.settings; }, [&] { ++calls.quit; }},
                      [] { return new QLabel(QStringLiteral("content")); }, SyncStrings());
    // The offscreen platform has no tray.
    EXPECT_FALSE(tray.show());
    EXPECT_EQ(tray.icon().contextMenu(), &tray.menu());
    EXPECT_EQ(tray.icon().toolTip(), "Kelto Sync");
    EXPECT_EQ(tray.popup(), nullptr);

    QStringList titles;
    for (QAction* action : tray.menu().actions()) {
        if (action->isSeparator()) continue;
        titles << action->text();
        action->trigger();
    }
    EXPECT_EQ(titles, (QStringList{"Open Kelto Sync…", "Sync all", "Settings…", "Quit"}));
    EXPECT_EQ(tray.menu().actions().last()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_EQ(std::vector<int>({calls.open, calls.syncAll, calls.settings, calls.quit}), std::vector<int>(4, 1));
}

TEST(TrayPresence, AClickWithoutIconGeometryOpensFreshContentAtTheCursorAndASecondClosesIt) {
    int made = 0;
    TrayPresence tray({}, [&] {
        ++made;
        auto* content = new QLabel(QStringLiteral("content"));
        content->setFixedSize(360, 120);
        return content;
    }, SyncStrings());
    QCursor::setPos(400, 300);
    emit tray.icon().activated(QSystemTrayIcon::Context);
    EXPECT_EQ(tray.popup(), nullptr);

    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    QWidget* popup = tray.popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible());
    EXPECT_TRUE(popup->windowFlags().testFlag(Qt::Popup));
    EXPECT_TRUE(popup->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_NE(popup->findChild<QLabel*>(), nullptr);
    EXPECT_EQ(popup->pos(), QPoint(400 - 180, 301));

    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(tray.popup(), nullptr);
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    ASSERT_NE(tray.popup(), nullptr);
    EXPECT_EQ(made, 2);
}

// Where the window cannot be made translucent (no compositing manager, as
// here), the popup's window takes its surface's rounded shape.
TEST(TrayPresence, WithoutACompositorThePopupTakesItsSurfacesRoundedShape) {
    FakeAppModel fake;
    AppModelAdapter model(fake);
    TrayPresence tray({}, [&] { return new MenuBarContent(model, SyncStrings(), {}, DeviceDot::Sources{}); },
                      SyncStrings());
    tray.togglePopup();
    ASSERT_NE(tray.popup(), nullptr);
    const QRect frame = tray.popup()->rect();
    const QRegion shape = tray.popup()->mask();
    for (const QPoint corner : {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight()}) {
        EXPECT_FALSE(shape.contains(corner));
    }
    for (const QPoint inside : {frame.center(), QPoint(frame.center().x(), 0), QPoint(0, frame.center().y())}) {
        EXPECT_TRUE(shape.contains(inside));
    }
}

TEST(TrayPresence, AnOpenPopupWhoseContentGrowsOrShrinksStaysAtItsAnchorInsideTheScreen) {
    QWidget* content = nullptr;
    TrayPresence tray({}, [&] {
        content = new QWidget;
        content->setFixedSize(360, 120);
        return content;
    }, SyncStrings());
    // A panel along the bottom edge: the popup stands above the cursor.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCursor::setPos(screen.center().x(), screen.bottom());
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    QWidget* popup = tray.popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->geometry().bottom(), screen.bottom() - 1);

    // Jobs added while it is open.
    content->setFixedSize(360, 320);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup->height() == 320; }));
    EXPECT_EQ(popup->geometry().bottom(), screen.bottom() - 1) << "the commands stay on the screen";
    content->setFixedSize(360, 80);
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup->height() == 80; }));
    EXPECT_EQ(popup->geometry().bottom(), screen.bottom() - 1) << "no gap opens above the panel";
}

// The popup hangs below a top icon and stands above a bottom one, inside
// the screen; taller than the room below a top icon, it is cut to that
// room rather than covering the icon.
TEST(TrayPresence, APopupTallerThanTheRoomBelowATopIconLeavesTheIconUncovered) {
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(TrayPresence::popupPosition(QRect(600, 0, 22, 22), QSize(360, 200), screen), QPoint(610 - 180, 22));
    EXPECT_EQ(TrayPresence::popupPosition(QRect(1250, 778, 22, 22), QSize(360, 200), screen), QPoint(920, 578));
    EXPECT_EQ(TrayPresence::popupPosition(QRect(2, 0, 22, 22), QSize(360, 200), screen), QPoint(0, 22));
    const QRect icon(1400, 3, 22, 22);
    for (const int height : {900, 2000}) {
        EXPECT_EQ(TrayPresence::popupPosition(icon, QSize(360, height), QRect(0, 0, 1440, 900)), QPoint(1080, 25));
    }
}

}  // namespace
}  // namespace kelto
