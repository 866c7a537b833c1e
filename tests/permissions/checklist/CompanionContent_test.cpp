#include "tests/permissions/checklist/FakePermission.h"

#include "KeltoDesign/KeltoSecondaryButtonStyle.h"
#include "KeltoPermissions/AppDragTile.h"
#include "KeltoPermissions/CompanionContent.h"

#include <QAccessible>
#include <QApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

namespace kelto {
namespace {

using test::ChecklistRig;
using test::FakeProbe;
using test::fakeItem;
using S = PermissionStatus;

struct CompanionRig : ChecklistRig {
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    PermissionItem item = fakeItem("item", PermissionRequirement::required, probe);
    std::unique_ptr<PermissionChecklist> checklist;
    int backs = 0;

    explicit CompanionRig(std::optional<SettingsDestination> destination) {
        item.title = QStringLiteral("Full Disk Access");
        item.destination = destination;
        checklist = make({item});
    }
    std::unique_ptr<CompanionContent> content(AppInstallLocation::Kind location = AppInstallLocation::Kind::normal) {
        return std::make_unique<CompanionContent>(*checklist, item, QStringLiteral("/opt/kelto-sync"),
                                                  AppInstallLocation{location}, [this] { ++backs; });
    }
    void answer(S status) {
        checklist->refreshAll();
        probe->answer(status);
    }
};

const QString review = QStringLiteral("Review this setting, then return to Kelto Sync.");
const QString moveHint = QStringLiteral("Move Kelto Sync to Applications and reopen it.");
const QString stillNot =
    QStringLiteral("Still not working? Select Kelto Sync, remove it with \u2212, then drag it in again.");

TEST(CompanionContent, PrivacyPaneGivesStepsAndTheDragTileByInstallLocation) {
    CompanionRig rig(SettingsDestination::privacy(PrivacyAnchor::allFiles));
    auto normal = rig.content();
    EXPECT_FALSE(normal->visibleTexts().contains(review));
    EXPECT_FALSE(normal->visibleTexts().contains(moveHint));
    ASSERT_NE(normal->dragTile(), nullptr);
    EXPECT_TRUE(normal->dragTile()->allowsDrag());
    EXPECT_EQ(normal->showButton(), nullptr);
    for (auto location : {AppInstallLocation::Kind::translocated, AppInstallLocation::Kind::readOnlyVolume}) {
        auto moved = rig.content(location);
        EXPECT_FALSE(moved->dragTile()->allowsDrag());
        EXPECT_TRUE(moved->visibleTexts().contains(moveHint));
        QStringList revealed;
        bool shows = true;
        moved->setReveal([&](const QString& path, std::function<void(bool)> shown) {
            revealed.push_back(path);
            shown(shows);
        });
        ASSERT_NE(moved->showButton(), nullptr);
        moved->showButton()->click();
        EXPECT_EQ(revealed, QStringList{"/opt/kelto-sync"});
        for (QPushButton* button : {moved->showButton(), moved->backButton(), moved->restartButton()}) {
            EXPECT_EQ(qobject_cast<KeltoSecondaryButtonStyle*>(button->style()), nullptr)
                << button->text().toStdString();
        }
        // Where no file manager shows it, the panel says so, naming where it is, to be copied.
        EXPECT_FALSE(moved->showFailedLabel()->isVisibleTo(moved.get()));
        shows = false;
        moved->showButton()->click();
        EXPECT_TRUE(moved->showFailedLabel()->isVisibleTo(moved.get()));
        EXPECT_TRUE(moved->showFailedPathLabel()->isVisibleTo(moved.get()));
        EXPECT_EQ(moved->showFailedPathLabel()->text(), QStringLiteral("/opt/kelto-sync"));
        EXPECT_TRUE(moved->showFailedPathLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    }
    // Back from the settings without the grant: the hints and the restart.
    EXPECT_FALSE(normal->restartButton()->isVisibleTo(normal.get()));
    rig.answer(S::missing);
    rig.checklist->perform("item");
    rig.checklist->refreshAfterReturn();
    rig.probe->answer(S::missing);
    EXPECT_TRUE(normal->visibleTexts().contains(stillNot));
    EXPECT_TRUE(normal->restartButton()->isVisibleTo(normal.get()));
    normal->backButton()->click();
    EXPECT_EQ(rig.backs, 1);
}

TEST(CompanionContent, OtherDestinationsOnlyReviewAndRestartWhenRequired) {
    for (const auto& destination : {std::optional(SettingsDestination::loginItems()),
                                    std::optional<SettingsDestination>()}) {
        CompanionRig rig(destination);
        auto content = rig.content();
        EXPECT_TRUE(content->visibleTexts().contains(review));
        EXPECT_EQ(content->dragTile(), nullptr);
        EXPECT_FALSE(content->restartButton()->isVisibleTo(content.get()));
        rig.answer(S::restartRequired);
        ASSERT_TRUE(content->restartButton()->isVisibleTo(content.get()));
        EXPECT_FALSE(content->visibleTexts().contains(stillNot));
        content->restartButton()->click();
        EXPECT_EQ(rig.terminations, 1);
        EXPECT_EQ(rig.checklist->focusedItemID(), QStringLiteral("item"));
    }
}

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
