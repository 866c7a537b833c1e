#include "KeltoPermissions/AppDragTile.h"

#include <QAccessible>
#include <QApplication>
#include <QMimeData>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <memory>

namespace kelto {
namespace {

struct Started {
    std::unique_ptr<QMimeData> data;
    QPixmap image;
    QPoint hotSpot;
    Qt::DropActions actions;
};

struct TileRig {
    AppDragTile tile{QStringLiteral("/opt/kelto-sync"), QStringLiteral("Kelto Sync"), PermissionStrings(), true};
    std::vector<Started> drags;

    TileRig() {
        tile.resize(260, 64);
        tile.setDragStarter([this](QMimeData* data, const QPixmap& image, const QPoint& hotSpot, Qt::DropActions actions) {
            drags.push_back({std::unique_ptr<QMimeData>(data), image, hotSpot, actions});
        });
    }
    void send(QEvent::Type type, QPointF at) {
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, tile.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&tile, &event);
    }
};

TEST(AppDragTile, StartsOneCopyDragOfTheBundleAfterFourPoints) {
    TileRig rig;
    rig.send(QEvent::MouseButtonPress, {20, 20});
    rig.send(QEvent::MouseMove, {23.9, 20});
    EXPECT_TRUE(rig.drags.empty()) << "3.9 points is not yet a drag";
    rig.send(QEvent::MouseMove, {24, 20});
    rig.send(QEvent::MouseMove, {60, 40});
    ASSERT_EQ(rig.drags.size(), 1u) << "one drag per press";
    const Started& drag = rig.drags.front();
    EXPECT_TRUE(drag.data->formats().contains(QStringLiteral("text/uri-list")));
    EXPECT_EQ(drag.data->urls(), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/opt/kelto-sync"))});
    EXPECT_EQ(drag.actions, Qt::DropActions(Qt::CopyAction));
    EXPECT_EQ(drag.image.deviceIndependentSize().toSize(), QSize(56, 56));
    EXPECT_EQ(drag.hotSpot, QPoint(28, 28));
    rig.send(QEvent::MouseButtonRelease, {60, 40});
    rig.send(QEvent::MouseButtonPress, {20, 20});
    rig.send(QEvent::MouseMove, {20, 25});
    EXPECT_EQ(rig.drags.size(), 2u);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&rig.tile)->text(QAccessible::Name),
              QStringLiteral("Kelto Sync, Drag into the list"));
}

TEST(AppDragTile, WithoutDraggingItIsFadedAndInert) {
    TileRig rig;
    rig.tile.configure(QStringLiteral("Kelto Sync"), PermissionStrings(), false);
    EXPECT_DOUBLE_EQ(rig.tile.opacity(), 0.5);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(&rig.tile)->state().disabled);
    rig.send(QEvent::MouseButtonPress, {20, 20});
    rig.tile.configure(QStringLiteral("Kelto Sync"), PermissionStrings(), true);
    rig.send(QEvent::MouseMove, {40, 20});
    EXPECT_TRUE(rig.drags.empty()) << "a press made while it could not drag starts nothing";
    EXPECT_DOUBLE_EQ(rig.tile.opacity(), 1.0);
}

}  // namespace
}  // namespace kelto
