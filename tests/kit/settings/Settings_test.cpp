#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "FenraCore/FenraPreferences.h"
#include "FenraSettings/ChoiceTiles.h"
#include "FenraSettings/SettingsRow.h"
#include "FenraSettings/SettingsSearchQuery.h"
#include "tests/support/widgets/QtPrinting.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

// A row under a widget that provides the query, as the shell does.
struct SettingsRowTest : testing::Test {
    SettingsRowTest() {
        SettingsSearchQuery::provide(provider, query);
        new QVBoxLayout(&provider);
        row = addRow(QStringLiteral("Open at login"), QStringLiteral("Starts syncing when you log in"));
        provider.show();
    }
    ~SettingsRowTest() override { FenraPreferences::shared().setReduceMotion(false); }
    SettingsRow* addRow(const QString& title, const std::optional<QString>& subtitle) {
        auto* added = new SettingsRow(title, subtitle, [this] { return ++accessoriesBuilt, new QCheckBox; });
        provider.layout()->addWidget(added);
        return added;
    }
    QTimer& hold() const { return *row->findChild<QTimer*>(); }
    QVariantAnimation& fade() const { return *row->findChild<QVariantAnimation*>(); }
    void endHold() const { hold().stop(), QMetaObject::invokeMethod(&hold(), "timeout"); }  // as its timer would
    Binding<QString> query;
    QWidget provider;
    int accessoriesBuilt = 0;
    SettingsRow* row;
};

// Lit at once for a second and a half, then eased out over 0.2 s, or gone at once under reduced motion; a matching
// keystroke restarts the hold, a miss ends it, even mid-fade.
TEST_F(SettingsRowTest, LitAtOnceThenFadesAndOnlyTheTitleOfAShownRowUnderAProviderIsMatched) {
    query.set(QStringLiteral("LOGIN"));
    EXPECT_TRUE(row->highlighted());
    EXPECT_DOUBLE_EQ(row->highlightOpacity(), SettingsRow::litOpacity);
    endHold();
    EXPECT_FALSE(row->highlighted());
    ASSERT_EQ(fade().state(), QAbstractAnimation::Running);
    fade().setCurrentTime(fade().duration() / 2);
    EXPECT_GT(row->highlightOpacity(), 0);
    EXPECT_LT(row->highlightOpacity(), SettingsRow::litOpacity / 2);
    query.set(QStringLiteral("login"));
    EXPECT_EQ(fade().state(), QAbstractAnimation::Stopped);
    EXPECT_DOUBLE_EQ(row->highlightOpacity(), SettingsRow::litOpacity);
    hold().stop();
    query.set(QStringLiteral("logi"));
    EXPECT_TRUE(hold().isActive());
    query.set(QStringLiteral("loginx"));
    EXPECT_FALSE(row->highlighted() || hold().isActive());
    EXPECT_EQ(row->highlightOpacity(), 0);
    query.set(QStringLiteral(" \t\n"));
    EXPECT_FALSE(row->highlighted());
    FenraPreferences::shared().setReduceMotion(true);
    query.set(QStringLiteral("login"));
    endHold();
    EXPECT_FALSE(row->highlighted());
    EXPECT_EQ(row->highlightOpacity(), 0);
    EXPECT_NE(fade().state(), QAbstractAnimation::Running);
    EXPECT_EQ(accessoriesBuilt, 1);
    FenraPreferences::shared().setReduceMotion(false);
    // Only the title of a row under a provider is matched: without one a row never lights. A row shown under a match
    // lights at once; a hidden one does not follow the query until shown.
    query.set(QStringLiteral("syncing"));
    EXPECT_FALSE(row->highlighted());
    EXPECT_EQ(row->findChildren<QLabel*>().size(), 2);
    EXPECT_EQ(row->accessory()->accessibleName(), QStringLiteral("Open at login"));
    QWidget elsewhere;
    auto* lone = new SettingsRow(QStringLiteral("Syncing"), std::nullopt, [] { return nullptr; }, &elsewhere);
    elsewhere.show();
    EXPECT_EQ(SettingsSearchQuery::value(*lone), QString());
    EXPECT_FALSE(lone->highlighted());
    EXPECT_EQ(lone->findChildren<QLabel*>().size(), 1) << "no subtitle: the title alone";
    query.set(QStringLiteral("archive"));
    SettingsRow* later = addRow(QStringLiteral("Archive replaced files"), std::nullopt);
    later->hide();
    later->show();
    EXPECT_TRUE(later->highlighted());
    later->hide();
    query.set(QStringLiteral("keep"));
    EXPECT_TRUE(later->highlighted());
    later->show();
    EXPECT_FALSE(later->highlighted());
}

enum class Look { system, light, dark };

QWidget* swatch(int width, int height) {
    auto* preview = new QWidget;
    preview->setFixedSize(width, height);
    return preview;
}

struct ChoiceTilesTest : testing::Test {
    ChoiceTilesTest()
        : selection(Look::dark),
          tiles(selection, {{Look::system, QStringLiteral("System"), swatch(40, 30)},
                            {Look::light, QStringLiteral("Light"), swatch(40, 30)},
                            {Look::dark, QStringLiteral("Dark"), swatch(120, 80)}}) {
        tiles.show();
    }
    QList<QAbstractButton*> buttons() const { return tiles.findChildren<QAbstractButton*>(); }
    static QAccessibleInterface* accessible(QAbstractButton* tile) { return QAccessible::queryAccessibleInterface(tile); }
    QList<bool> selectedStates() const {  // as assistive technology reads them
        QList<bool> states;
        for (QAbstractButton* tile : buttons()) states.append(accessible(tile)->state().selected);
        return states;
    }
    Binding<Look> selection;
    ChoiceTiles<Look> tiles;
};

TEST_F(ChoiceTilesTest, TheChosenValueMarksItsTileAClickChoosesAnotherAndTilesWrapToAColumn) {
    ASSERT_EQ(buttons().size(), 3);
    EXPECT_EQ(selectedStates(), QList<bool>({false, false, true}));
    selection.set(static_cast<Look>(7));
    EXPECT_EQ(selectedStates(), QList<bool>({false, false, false}));
    EXPECT_EQ(tiles.markedTile(), std::nullopt);
    QTest::mouseClick(buttons()[1], Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(selection.get(), Look::light);
    EXPECT_EQ(selectedStates(), QList<bool>({false, true, false}));
    // Clicking the chosen tile writes the same value and changes nothing.
    QSignalSpy written(&selection, &BindingNotifier::written);
    QSignalSpy changed(&selection, &BindingNotifier::changed);
    QTest::mouseClick(buttons()[1], Qt::LeftButton, {}, buttons()[1]->rect().center());
    EXPECT_EQ(written.count(), 1);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(selectedStates(), QList<bool>({false, true, false}));
    // Each tile is a button named by its title, with nothing inside.
    QAccessibleInterface* tile = accessible(buttons()[0]);
    EXPECT_EQ(tile->role(), QAccessible::Button);
    EXPECT_EQ(tile->text(QAccessible::Name), QStringLiteral("System"));
    EXPECT_EQ(tile->childCount(), 0);
    tile->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(selection.get(), Look::system);
    EXPECT_TRUE(tile->state().selected);
    // Tiles stand in a row when it fits, else in a column.
    const int rowWidth = tiles.sizeHint().width();
    const auto rects = [this] {
        QList<QRect> result;
        for (QAbstractButton* tile : buttons()) result.append(tile->geometry());
        return result;
    };
    tiles.resize(rowWidth, tiles.heightForWidth(rowWidth));
    QList<QRect> row = rects();
    EXPECT_TRUE(tiles.isRow());
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(row[i].top(), 0);
        EXPECT_EQ(row[i].left(), row[i - 1].right() + 1 + 12);
    }
    EXPECT_GT(row[2].width(), row[0].width()) << "the large preview makes its frame grow";
    tiles.resize(rowWidth - 1, tiles.heightForWidth(rowWidth - 1));
    const QList<QRect> column = rects();
    EXPECT_FALSE(tiles.isRow());
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(column[i].left(), 0);
        EXPECT_EQ(column[i].top(), column[i - 1].bottom() + 1 + 12);
    }
    EXPECT_EQ(tiles.heightForWidth(rowWidth - 1), column[2].bottom() + 1);
    tiles.resize(rowWidth + 50, 200);
    EXPECT_EQ(rects(), row);
}

}  // namespace
}  // namespace kelto
