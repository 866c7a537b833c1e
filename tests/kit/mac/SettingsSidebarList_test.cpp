#include "FenraCore/Contrast.h"
#include "FenraMac/SettingsSidebarList.h"
#include "FenraMac/internal/SidebarAccessible.h"
#include "tests/kit/mac/TestPanes.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace kelto {
namespace {

using Kind = SidebarRow::Kind;

QStringList describe(const std::vector<SidebarRow>& rows) {
    QStringList described;
    for (const SidebarRow& row : rows) {
        switch (row.kind) {
        case Kind::pane: described.append(row.paneId); break;
        case Kind::heading: described.append(QStringLiteral("# ") + row.text); break;
        case Kind::empty: described.append(QStringLiteral("(") + row.text + QStringLiteral(")")); break;
        case Kind::gap: described.append(QStringLiteral("gap")); break;
        }
    }
    return described;
}

std::vector<SettingsPane> panesAB() {
    return {testPane("a", "Alpha", group("g1")), testPane("b", "Beta", group("g2", QStringLiteral("Sync"))),
            testPane("c", "Gamma", group("g1"))};
}

TEST(SidebarRows, GroupedByFirstAppearanceWithGapsAndHeadings) {
    const QLocale english(QLocale::English);
    EXPECT_EQ(describe(SettingsSidebarList::rowsFor({}, english)), QStringList({"(No results)"}));
    EXPECT_EQ(describe(SettingsSidebarList::rowsFor({testPane("a", "Alpha", group("g")), testPane("b", "Beta", group("g"))},
                                                    english)),
              QStringList({"a", "b"}));
    EXPECT_EQ(describe(SettingsSidebarList::rowsFor(panesAB(), english)), QStringList({"a", "c", "gap", "# Sync", "b"}));
    // The first pane of a group titles it.
    EXPECT_EQ(describe(SettingsSidebarList::rowsFor({testPane("a", "Alpha", group("g", QStringLiteral("One"))),
                                                     testPane("b", "Beta", group("g", QStringLiteral("Two")))},
                                                    english)),
              QStringList({"# One", "a", "b"}));
}

class SidebarTest : public testing::Test {
protected:
    SidebarTest() : selection(QStringLiteral("c")), list(panesAB(), selection) {
        list.resize(232, 300);
        list.show();
    }

    QRect rectOf(int row) const { return list.visualRect(list.model()->index(row, 0)); }
    QStringList selectedIds() const {
        QStringList ids;
        for (const QModelIndex& index : list.selectionModel()->selectedRows()) {
            ids.append(list.rows()[static_cast<std::size_t>(index.row())].paneId);
        }
        return ids;
    }
    void click(const QPoint& at) { QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, at); }

    Binding<std::optional<QString>> selection;
    SettingsSidebarList list;
};

TEST_F(SidebarTest, RowsAreTwelveOrThirtyFourHighAndNamedForAssistiveTechnology) {
    const QList<int> heights{rectOf(0).height(), rectOf(1).height(), rectOf(2).height(), rectOf(3).height()};
    EXPECT_EQ(heights, QList<int>({34, 34, 12, 34}));
    EXPECT_EQ(rectOf(0).top(), 0);
    EXPECT_EQ(list.viewport()->geometry().top(), 12);

    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&list);
    ASSERT_NE(table, nullptr);
    QStringList names;
    for (int i = 0; i < table->childCount(); ++i) {
        QAccessibleInterface* child = table->child(i);
        if (child->role() == QAccessible::ListItem) {
            names.append(child->text(QAccessible::Name));
        }
    }
    // The gap is no element: nothing empty is read out between the groups.
    EXPECT_EQ(names, QStringList({"Alpha", "Gamma", "Sync", "Beta"}));
    EXPECT_EQ(table->childCount(), 4);
    for (int i = 0; i < table->childCount(); ++i) EXPECT_EQ(table->indexOfChild(table->child(i)), i);

    // Focus and selection notices name a row by the element read out.
    for (int row = 0; row < static_cast<int>(list.rows().size()); ++row) {
        const int child = SidebarAccessible::childOfRow(list, row);
        if (list.rows()[static_cast<std::size_t>(row)].kind == Kind::gap) {
            EXPECT_EQ(child, -1);
        } else {
            EXPECT_EQ(table->child(child)->text(QAccessible::Name), list.rows()[static_cast<std::size_t>(row)].text);
        }
    }
}

// Headings are secondary text that still reads: 4.5:1 from the sidebar.
TEST_F(SidebarTest, HeadingsReadInBothLooks) {
    for (const auto& look : WidgetRender::looks()) {
        SCOPED_TRACE(look.name);
        list.setPalette(look.palette);
        const QImage image = WidgetRender::image(list);
        const QColor ground = look.palette.color(QPalette::Window);
        const QRect heading = rectOf(3).translated(list.viewport()->pos());
        double strongest = 1;
        for (int y = heading.top(); y <= heading.bottom(); ++y) {
            for (int x = heading.left(); x <= heading.right(); ++x) {
                QColor pixel = image.pixelColor(x, y);
                const double a = pixel.alphaF();
                const auto mix = [&](double ink, double back) { return ink * a + back * (1 - a); };
                const RGB shown(mix(pixel.redF(), ground.redF()), mix(pixel.greenF(), ground.greenF()),
                                mix(pixel.blueF(), ground.blueF()));
                strongest = std::max(strongest, Contrast::ratio(shown, RGB(ground.redF(), ground.greenF(), ground.blueF())));
            }
        }
        EXPECT_GE(strongest, 4.5);
    }
}

TEST_F(SidebarTest, OnlyAPaneRowTakesAClickAndNothingClearsTheSelection) {
    ASSERT_EQ(selectedIds(), QStringList({"c"}));
    QSignalSpy written(&selection, &BindingNotifier::written);
    click(rectOf(2).center());                         // gap
    click(rectOf(3).center());                         // heading
    click(QPoint(100, rectOf(4).bottom() + 40));       // below the rows
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::ControlModifier, rectOf(1).center());
    EXPECT_EQ(written.count(), 0);
    EXPECT_EQ(selectedIds(), QStringList({"c"}));

    click(rectOf(4).center());
    EXPECT_EQ(selection.get(), std::optional<QString>(QStringLiteral("b")));
    EXPECT_EQ(written.count(), 1);

    Binding<std::optional<QString>> none;
    SettingsSidebarList empty({}, none);
    empty.show();
    QSignalSpy noneWritten(&none, &BindingNotifier::written);
    QTest::mouseClick(empty.viewport(), Qt::LeftButton, {}, empty.visualRect(empty.model()->index(0, 0)).center());
    EXPECT_EQ(noneWritten.count(), 0);
    EXPECT_FALSE(empty.selectionModel()->hasSelection());
}

TEST_F(SidebarTest, UpdatesChangeTheTableOnlyAsMuchAsTheRowsAndSelectionDo) {
    QSignalSpy resets(list.model(), &QAbstractItemModel::modelReset);
    QSignalSpy selectionChanges(list.selectionModel(), &QItemSelectionModel::selectionChanged);
    QSignalSpy written(&selection, &BindingNotifier::written);

    list.setPanes(panesAB());
    selection.set(QStringLiteral("c"));
    std::vector<SettingsPane> retermed = panesAB();
    retermed[0].searchTerms = QStringList{QStringLiteral("first")};
    list.setPanes(retermed);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(selectionChanges.count(), 0);
    EXPECT_EQ(written.count(), 1);  // the test's own write

    // The sidebar's own selection change is not written back.
    selection.set(QStringLiteral("a"));
    EXPECT_EQ(selectedIds(), QStringList({"a"}));
    EXPECT_EQ(written.count(), 2);

    std::vector<SettingsPane> retinted = panesAB();
    retinted[0].tint = TileTint::coral;
    list.setPanes(retinted);
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(selectedIds(), QStringList({"a"}));

    // A pane the search hid, or none: no row, and the value stays.
    list.setPanes({testPane("b", "Beta", group("g2"))});
    EXPECT_TRUE(selectedIds().isEmpty());
    selection.set(std::nullopt);
    EXPECT_TRUE(selectedIds().isEmpty());
    EXPECT_EQ(selection.get(), std::nullopt);
    EXPECT_EQ(written.count(), 3);
}

TEST(Sidebar, NoResultsFollowsTheLocale) {
    Binding<std::optional<QString>> selection;
    QWidget window;
    auto* list = new SettingsSidebarList({}, selection, &window);
    ASSERT_EQ(describe(list->rows()), QStringList({"(No results)"}));
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);
    window.setLocale(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
    EXPECT_EQ(describe(list->rows()), QStringList({QString::fromUtf8("(Không có kết quả)")}));
    EXPECT_EQ(resets.count(), 1);
    window.setLocale(QLocale(QLocale::German));
    EXPECT_EQ(describe(list->rows()), QStringList({"(No results)"}));
}

}  // namespace
}  // namespace kelto
