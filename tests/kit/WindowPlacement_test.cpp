#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "FenraCore/WindowPlacement.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QApplication>
#include <QGuiApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QWindow>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// A screen of 1440 × 900 whose top 28 pixels a panel keeps.
const QRect freeArea(0, 28, 1440, 872);

// Centred on its owner, moved in rather than hung off an edge, cut to the
// free area and never above the panel. A popup opens beside its anchor on
// the roomier side, as tall as it asks while the room holds it, never over
// the anchor nor over a panel the free area leaves out.
TEST(WindowPlacement, AWindowIsCentredOnItsOwnerAndAPopupOpensBesideItsAnchor) {
    EXPECT_EQ(WindowPlacement::centred(QSize(600, 400), QRect(220, 100, 1000, 700), freeArea), QRect(420, 250, 600, 400));
    EXPECT_EQ(WindowPlacement::centred(QSize(600, 400), QRect(-300, 100, 500, 700), freeArea).left(), 0);
    EXPECT_EQ(WindowPlacement::centred(QSize(600, 400), QRect(100, 600, 800, 700), freeArea).bottom(), freeArea.bottom());
    EXPECT_EQ(WindowPlacement::centred(QSize(1000, 1000), QRect(), freeArea), QRect(220, 28, 1000, 872));
    EXPECT_EQ(WindowPlacement::centred(QSize(2000, 400), QRect(), freeArea), QRect(0, 264, 1440, 400));

    const QRect screen(0, 0, 1440, 900), topIcon(1400, 3, 22, 22), bottomIcon(700, 875, 22, 22);
    EXPECT_EQ(WindowPlacement::beside(topIcon, QSize(360, 500), screen), QRect(1080, 25, 360, 500));
    EXPECT_EQ(WindowPlacement::beside(topIcon, QSize(360, 1200), screen), QRect(1080, 25, 360, 875));
    EXPECT_EQ(WindowPlacement::roomBeside(topIcon, screen), 875);
    EXPECT_EQ(WindowPlacement::beside(bottomIcon, QSize(360, 1200), screen), QRect(530, 0, 360, 875));
    EXPECT_EQ(WindowPlacement::beside(topIcon, QSize(360, 1200), freeArea), QRect(1080, 28, 360, 872));
    EXPECT_EQ(WindowPlacement::roomBeside(topIcon, freeArea), 872);
}

// A sheet opened before its window is shown (the window being made in the
// same turn) belongs to that window once it is: the window manager keeps a
// dialog above the window it is transient for, and only then.
TEST(WindowPlacement, ASheetOpenedBeforeItsWindowIsShownOverItOnceItIs) {
    QWidget window;
    window.resize(800, 600);
    window.move(100, 80);
    auto* sheet = new QDialog(&window);
    sheet->resize(300, 200);
    WindowPlacement::openSheet(*sheet);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);

    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto centred = [&] {
        return (sheet->frameGeometry().center() - window.frameGeometry().center()).manhattanLength() <= 2;
    };
    EXPECT_TRUE(QTest::qWaitFor(centred)) << "placed before its window was";
    EXPECT_TRUE(sheet->isVisible());
    ASSERT_NE(sheet->windowHandle(), nullptr);
    EXPECT_EQ(sheet->windowHandle()->transientParent(), window.windowHandle())
        << "stacked as a window of its own, below the one shown after it";

    // Another sheet over the shown window opens at once, also when it is
    // larger than the screen's free area.
    auto* tall = new QDialog(&window);
    tall->resize(400, 5000);
    WindowPlacement::openSheet(*tall);
    EXPECT_TRUE(tall->isVisible());
    EXPECT_TRUE(WindowPlacement::freeArea(*tall).contains(tall->frameGeometry()));
}

// Whichever way its window comes back (a notification, the tray, the
// window manager restoring it), the window system may hand the activation
// to the window a sheet blocks: the sheet takes the keyboard, and a key
// from it reaches the sheet.
TEST(WindowPlacement, ASheetTakesTheKeyboardWhenItsWindowIsActivated) {
    QWidget window;
    window.resize(600, 400);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* sheet = new QDialog(&window);
    WindowPlacement::openSheet(*sheet);
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    QSignalSpy rejected(sheet, &QDialog::rejected);
    for (int time = 0; time < 2; ++time) {
        window.windowHandle()->requestActivate();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == sheet->windowHandle(); }))
            << "time " << time;
    }
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 1);
}

TEST(WindowPlacement, AlertsShowTheKitsSymbolsAndNoButtonIcons) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    const QImage expected =
        SymbolImage::icon(FenraIcon::warning, FenraTheme::warning().color(box.palette())).pixmap(16, 16).toImage();
    const QImage shown = box.style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, &box).pixmap(16, 16).toImage();
    EXPECT_EQ(shown, expected);
    for (const auto button : {QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Discard}) {
        EXPECT_TRUE(box.addButton(button)->icon().isNull()) << button;
    }
}

}  // namespace
}  // namespace kelto
