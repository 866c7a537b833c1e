#include "FenraSettings/ChoiceTiles.h"
#include "FenraSettings/KeyCap.h"
#include "tests/support/widgets/QtPrinting.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace kelto {
namespace {

enum class Look { system, light, dark };

QWidget* swatch(int width, int height) {
    auto* preview = new QWidget;
    preview->setFixedSize(width, height);
    return preview;
}

class ChoiceTilesTest : public testing::Test {
protected:
    ChoiceTilesTest()
        : selection(Look::dark),
          tiles(selection, {{Look::system, QStringLiteral("System"), swatch(40, 30)},
                            {Look::light, QStringLiteral("Light"), swatch(40, 30)},
                            {Look::dark, QStringLiteral("Dark"), swatch(120, 80)}}) {
        tiles.show();
    }

    QList<QAbstractButton*> buttons() const { return tiles.findChildren<QAbstractButton*>(); }
    static QAccessibleInterface* accessible(QAbstractButton* tile) { return QAccessible::queryAccessibleInterface(tile); }
    // Which tiles assistive technology reads as selected.
    QList<bool> selectedStates() const {
        QList<bool> states;
        for (QAbstractButton* tile : buttons()) {
            states.append(accessible(tile)->state().selected);
        }
        return states;
    }

    Binding<Look> selection;
    ChoiceTiles<Look> tiles;
};

TEST_F(ChoiceTilesTest, TheChosenValueMarksItsTileAndAClickChoosesAnother) {
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
}

TEST_F(ChoiceTilesTest, EachTileIsAButtonNamedByItsTitleWithNothingInside) {
    QAccessibleInterface* tile = accessible(buttons()[0]);
    EXPECT_EQ(tile->role(), QAccessible::Button);
    EXPECT_EQ(tile->text(QAccessible::Name), QStringLiteral("System"));
    EXPECT_EQ(tile->childCount(), 0);
    tile->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(selection.get(), Look::system);
    EXPECT_TRUE(tile->state().selected);
}

TEST_F(ChoiceTilesTest, TilesStandInARowWhenItFitsAndElseInAColumn) {
    const int rowWidth = tiles.sizeHint().width();
    const auto rects = [this] {
        QList<QRect> result;
        for (QAbstractButton* tile : buttons()) {
            result.append(tile->geometry());
        }
        return result;
    };
    tiles.resize(rowWidth, tiles.heightForWidth(rowWidth));
    QList<QRect> row = rects();
    EXPECT_TRUE(tiles.isRow());
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(row[i].top(), 0);
        EXPECT_EQ(row[i].left(), row[i - 1].right() + 1 + 12);
    }
    // The small previews sit in frames of the minimum size, the large one
    // makes its frame grow.
    EXPECT_GT(row[2].width(), row[0].width());
    EXPECT_EQ(row[0].width(), 100 + 2 * 4);

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

TEST(KeyCap, DigitsKeepOneWidth) {
    const KeyCap ones(QStringLiteral("⌘ 11"));
    const KeyCap eights(QStringLiteral("⌘ 88"));
    EXPECT_EQ(ones.sizeHint().width(), eights.sizeHint().width());
}

}  // namespace
}  // namespace kelto
