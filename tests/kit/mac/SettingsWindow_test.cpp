#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraMac/SettingsSearchField.h"
#include "FenraMac/SettingsShell.h"
#include "FenraMac/SettingsSidebarList.h"
#include "FenraMac/SettingsToolbarPolicy.h"
#include "FenraMac/SettingsWindowConfigurator.h"
#include "FenraMac/internal/SidebarAccessible.h"
#include "FenraSettings/ChoiceTiles.h"
#include "FenraSettings/SettingsPane.h"
#include "FenraSettings/SettingsRow.h"
#include "FenraSettings/SettingsSearchQuery.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/support/widgets/TextContrast.h"
#include "tests/support/widgets/WidgetRender.h"

#include <gtest/gtest.h>

#include <optional>

namespace kelto {
namespace {

// A pane whose content is a form of the given row titles, counting how often it was built.
SettingsPane testPane(const QString& id, const QString& title, const SettingsGroup& group, QStringList rows = {},
                      QStringList terms = {}, int* built = nullptr) {
    return SettingsPane(id, title, FenraIcon::folder, TileTint::cobalt, group, std::move(terms), [rows, built] {
        if (built != nullptr) ++*built;
        auto* form = new QWidget;
        form->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        auto* layout = new QVBoxLayout(form);
        layout->setContentsMargins(20, 0, 20, 0);
        for (const QString& row : rows) layout->addWidget(new SettingsRow(row, std::nullopt, [] { return new QCheckBox; }));
        return form;
    });
}

SettingsGroup group(const char* id, std::optional<QString> title = std::nullopt) {
    return {QString::fromLatin1(id), title};
}

QStringList sidebarIds(const SettingsShell& shell) {
    QStringList ids;
    for (const SidebarRow& row : shell.sidebar()->rows())
        if (row.kind == SidebarRow::Kind::pane) ids.append(row.paneId);
    return ids;
}

std::vector<SettingsPane> panes(std::initializer_list<const char*> ids) {
    std::vector<SettingsPane> result;
    for (const char* id : ids) result.push_back(testPane(QString::fromLatin1(id), QString::fromLatin1(id), group("main")));
    return result;
}

TEST(SettingsShellSelection, ResolvedWhenFirstShownAndWhenPanesOrSelectionChange) {
    Binding<QString> selection(QStringLiteral("gone"));
    SettingsShell shell(panes({"sync", "general"}), selection, QStringLiteral("general"));
    EXPECT_EQ(selection.get(), QStringLiteral("gone"));  // not before it is shown
    shell.show();
    EXPECT_EQ(selection.get(), QStringLiteral("general"));
    ASSERT_NE(shell.detail(), nullptr);
    EXPECT_TRUE(shell.detail()->isVisible());
    selection.set(QStringLiteral("sync"));
    QWidget* syncDetail = shell.detail();
    for (const char* gone : {"elsewhere", "Sync"}) {
        selection.set(QString::fromLatin1(gone));
        EXPECT_EQ(selection.get(), QStringLiteral("general")) << gone;
    }
    selection.set(QStringLiteral("sync"));
    shell.setPanes(panes({"general", "advanced"}));
    EXPECT_EQ(selection.get(), QStringLiteral("general"));
    EXPECT_NE(shell.detail(), syncDetail);
    Binding<QString> other(QStringLiteral("gone"));
    SettingsShell withoutFallback(panes({"sync", "advanced"}), other, QStringLiteral("general"));
    withoutFallback.show();
    EXPECT_EQ(other.get(), QStringLiteral("sync"));
    withoutFallback.setPanes({});
    EXPECT_EQ(other.get(), QStringLiteral("general"));
    EXPECT_EQ(withoutFallback.detail(), nullptr);
    EXPECT_EQ(sidebarIds(withoutFallback), QStringList());
}

struct SettingsShellTest : testing::Test {
    SettingsShellTest()
        : selection(QStringLiteral("general")),
          shell({testPane("general", "General", group("main"), {"Open at login", "Show in the menu bar"}, {}, &built),
                 testPane("sync", "Sync", group("jobs", QStringLiteral("Jobs")), {"Sync on connect"}, {"schedule"}),
                 testPane("advanced", "Advanced", group("main"), {"Keep logs"})},
                selection, QStringLiteral("general")) {
        shell.resize(780, 600);
        shell.show();
        QApplication::setActiveWindow(&shell);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&shell));
    }
    QStringList litRows() const {
        QStringList lit;
        for (const SettingsRow* row : shell.detail()->findChildren<SettingsRow*>())
            if (row->highlighted()) lit.append(row->title());
        return lit;
    }
    int built = 0;
    Binding<QString> selection;
    SettingsShell shell;
};

TEST_F(SettingsShellTest, TypingNarrowsTheSidebarWhileTheDetailStays) {
    ASSERT_EQ(built, 1);
    QWidget* detail = shell.detail();
    QTest::keyClicks(shell.searchField(), QStringLiteral("sched"));
    EXPECT_EQ(shell.query().get(), QStringLiteral("sched"));
    EXPECT_EQ(sidebarIds(shell), QStringList({"sync"}));
    EXPECT_FALSE(shell.sidebar()->selectionModel()->hasSelection());
    EXPECT_EQ(shell.detail(), detail);
    EXPECT_EQ(selection.get(), QStringLiteral("general"));
    EXPECT_EQ(built, 1);
    // The rows of the shown pane follow the query.
    shell.query().set(QStringLiteral("login"));
    EXPECT_EQ(litRows(), QStringList({"Open at login"}));
    EXPECT_EQ(sidebarIds(shell), QStringList());
    shell.query().set(QStringLiteral(" \t"));
    EXPECT_EQ(sidebarIds(shell), QStringList({"general", "advanced", "sync"}));
    EXPECT_EQ(shell.sidebar()->selectionModel()->selectedRows().size(), 1);
    // Picking a pane shows it.
    const QModelIndex sync = shell.sidebar()->model()->index(4, 0);
    QTest::mouseClick(shell.sidebar()->viewport(), Qt::LeftButton, {}, shell.sidebar()->visualRect(sync).center());
    EXPECT_EQ(selection.get(), QStringLiteral("sync"));
    EXPECT_EQ(built, 1);
    EXPECT_NE(shell.detail(), detail);
}

// Ctrl+F focuses the field and selects its text; Escape clears the query in the field without reaching the
// shell, and outside it as well.
TEST_F(SettingsShellTest, CtrlFFocusesTheFieldEscapeClearsTheQueryAndTheSidebarStays) {
    shell.query().set(QStringLiteral("sync"));
    shell.sidebar()->setFocus();
    ASSERT_FALSE(shell.searchField()->hasFocus());
    QTest::keyClick(shell.sidebar(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(shell.searchField()->hasFocus());
    EXPECT_EQ(shell.searchField()->selectedText(), QStringLiteral("sync"));
    struct : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
            return false;
        }
    } reachingShell;
    shell.installEventFilter(&reachingShell);
    for (QWidget* from : {static_cast<QWidget*>(shell.searchField()), static_cast<QWidget*>(shell.sidebar())}) {
        QTest::keyClicks(shell.searchField(), QStringLiteral("adv"));
        QTest::keyClick(from, Qt::Key_Escape);
        EXPECT_EQ(shell.query().get(), QString());
        EXPECT_EQ(shell.searchField()->text(), QString());
    }
    EXPECT_EQ(reachingShell.count, 1) << "only the one from outside the field";
    // The field's texts follow the locale; the sidebar cannot collapse.
    shell.setLocale(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
    EXPECT_EQ(shell.searchField()->placeholderText(), QString::fromUtf8("Tìm kiếm cài đặt…"));
    EXPECT_EQ(shell.searchField()->accessibleName(), QString::fromUtf8("Tìm kiếm cài đặt"));
    QSplitter& split = *shell.splitter();
    split.setSizes({0, 780});
    EXPECT_FALSE(split.isCollapsible(0));
    EXPECT_EQ(split.widget(0)->width(), 210);
    split.setSizes({500, 280});
    EXPECT_EQ(split.widget(0)->width(), 280);
}

using Kind = SidebarRow::Kind;

QStringList describe(const std::vector<SidebarRow>& rows) {
    QStringList described;
    for (const SidebarRow& row : rows)
        described.append(row.kind == Kind::pane      ? row.paneId
                         : row.kind == Kind::heading ? QStringLiteral("# ") + row.text
                         : row.kind == Kind::empty   ? QStringLiteral("(") + row.text + QStringLiteral(")")
                                                     : QStringLiteral("gap"));
    return described;
}

std::vector<SettingsPane> panesAB() {
    return {testPane("a", "Alpha", group("g1")), testPane("b", "Beta", group("g2", QStringLiteral("Sync"))),
            testPane("c", "Gamma", group("g1"))};
}

// A gap and the group's heading before each group with one; "No results" when none, in the list's language.
TEST(SidebarRows, GroupedByFirstAppearanceWithGapsAndHeadings) {
    const auto rows = [](std::vector<SettingsPane> panes) {
        return describe(SettingsSidebarList::rowsFor(panes, QLocale(QLocale::English)));
    };
    EXPECT_EQ(rows({testPane("a", "Alpha", group("g", QStringLiteral("One"))),
                    testPane("b", "Beta", group("g", QStringLiteral("Two")))}),
              QStringList({"# One", "a", "b"}));
    Binding<std::optional<QString>> selection;
    QWidget window;
    auto* list = new SettingsSidebarList({}, selection, &window);
    ASSERT_EQ(describe(list->rows()), QStringList({"(No results)"}));
    list->resize(232, 300);
    window.show();
    QSignalSpy written(&selection, &BindingNotifier::written);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
    EXPECT_EQ(written.count(), 0) << "no pane row takes a click";
    EXPECT_FALSE(list->selectionModel()->hasSelection());
    QSignalSpy resets(list->model(), &QAbstractItemModel::modelReset);
    window.setLocale(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
    EXPECT_EQ(describe(list->rows()), QStringList({QString::fromUtf8("(Không có kết quả)")}));
    EXPECT_EQ(resets.count(), 1);
}

struct SidebarTest : testing::Test {
    SidebarTest() : selection(QStringLiteral("c")), list(panesAB(), selection) {
        list.resize(232, 300);
        list.show();
    }
    QRect rectOf(int row) const { return list.visualRect(list.model()->index(row, 0)); }
    QStringList selectedIds() const {
        QStringList ids;
        for (const QModelIndex& index : list.selectionModel()->selectedRows()) ids.append(list.rows()[index.row()].paneId);
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
    QStringList names;
    for (int i = 0; i < table->childCount(); ++i) {
        QAccessibleInterface* child = table->child(i);
        if (child->role() == QAccessible::ListItem) names.append(child->text(QAccessible::Name));
    }
    // The gap is no element: nothing empty is read out between the groups.
    EXPECT_EQ(names, QStringList({"Alpha", "Gamma", "Sync", "Beta"}));
    ASSERT_EQ(table->childCount(), 4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(table->indexOfChild(table->child(i)), i);
    // Focus and selection notices name a row by the element read out.
    for (int row = 0; row < static_cast<int>(list.rows().size()); ++row) {
        const int child = SidebarAccessible::childOfRow(list, row);
        const SidebarRow& shown = list.rows()[static_cast<std::size_t>(row)];
        EXPECT_EQ(child == -1 ? QString() : table->child(child)->text(QAccessible::Name),
                  shown.kind == Kind::gap ? QString() : shown.text);
    }
}

// Headings are secondary text that still reads: 4.5:1 from the sidebar.
TEST_F(SidebarTest, HeadingsReadInBothLooks) {
    for (const auto& look : WidgetRender::looks()) {
        list.setPalette(look.palette);
        const QRect heading = rectOf(3).translated(list.viewport()->pos());
        EXPECT_GE(TextContrast::strongest(WidgetRender::image(list), heading, look.palette.color(QPalette::Window)), 4.5)
            << look.name;
    }
}

TEST_F(SidebarTest, OnlyAPaneRowTakesAClickNothingClearsTheSelectionAndUpdatesResetOnlyForNewRows) {
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
    click(rectOf(1).center());
    // Updates change the table only as much as the rows and the selection do.
    QSignalSpy resets(list.model(), &QAbstractItemModel::modelReset);
    QSignalSpy selectionChanges(list.selectionModel(), &QItemSelectionModel::selectionChanged);
    written.clear();
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

// One policy however often configured takes the sidebar toggle out of its own window's toolbars, later ones too,
// and no other window's; a window gone with a removal pending leaves nothing of it behind.
// The test main keeps the settings in a temporary folder.
TEST(ConfiguratorTest, ThePolicyKeepsTheSidebarToggleOutOfItsWindowOnlyAndTheGeometryIsSaved) {
    const auto toolbarWithToggle = [](QMainWindow& window) {
        QToolBar* toolbar = window.addToolBar(QStringLiteral("Main"));
        toolbar->addAction(QStringLiteral("Sidebar"))->setObjectName(SettingsToolbarPolicy::sidebarToggleName());
        toolbar->addAction(QStringLiteral("Help"));
        return toolbar;
    };
    const auto texts = [](const QToolBar* toolbar) {
        QStringList texts;
        for (const QAction* action : toolbar->actions()) texts.append(action->text());
        return texts;
    };
    QMainWindow window, other;
    const QToolBar* before = toolbarWithToggle(window);
    for (int time = 0; time < 2; ++time) SettingsWindowConfigurator::configure(window, QStringLiteral("PolicyTest"));
    EXPECT_EQ(window.findChildren<SettingsToolbarPolicy*>().size(), 1);
    const QToolBar* later = toolbarWithToggle(window);
    const QToolBar* elsewhere = toolbarWithToggle(other);
    auto* gone = new QMainWindow;
    SettingsWindowConfigurator::configure(*gone, QStringLiteral("GoneTest"));
    toolbarWithToggle(*gone);
    delete gone;
    QCoreApplication::processEvents();
    EXPECT_EQ(texts(before) + texts(later), QStringList({"Help", "Help"}));
    EXPECT_EQ(texts(elsewhere), QStringList({"Sidebar", "Help"}));
    // A window's minimum, then the geometry it saved under its name, which a second configuration keeps.
    const QString name = QStringLiteral("KeltoSyncSettings");
    {
        QWidget window;
        SettingsWindowConfigurator::configure(window, name);
        EXPECT_FALSE(QSettings().contains(SettingsWindowConfigurator::geometryKey(name)));
        window.show();
        window.setGeometry(40, 30, 700, 500);
        EXPECT_TRUE(QSettings().contains(SettingsWindowConfigurator::geometryKey(name)));
    }
    QWidget restored;
    for (int time = 0; time < 2; ++time) {
        SettingsWindowConfigurator::configure(restored, name);
        EXPECT_EQ(restored.size(), QSize(700, 500));
    }
    QWidget fresh;
    SettingsWindowConfigurator::configure(fresh, QStringLiteral("Other"));
    fresh.resize(600, 400);
    EXPECT_EQ(fresh.size(), QSize(680, 480));
}

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
    EXPECT_FALSE(lone->highlighted());
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

enum class Look { light, dark };

// A click on a tile chooses its value and marks that tile alone.
TEST(ChoiceTilesTest, AClickChoosesTheTilesValueAndMarksItAlone) {
    Binding<Look> selection(Look::dark);
    ChoiceTiles<Look> tiles(selection, {{Look::light, QStringLiteral("Light"), new QWidget},
                                        {Look::dark, QStringLiteral("Dark"), new QWidget}});
    tiles.show();
    const QList<QAbstractButton*> buttons = tiles.findChildren<QAbstractButton*>();
    ASSERT_EQ(buttons.size(), 2);
    QTest::mouseClick(buttons[0], Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(selection.get(), Look::light);
    QList<bool> selected;
    for (QAbstractButton* tile : buttons)
        selected.append(QAccessible::queryAccessibleInterface(tile)->state().selected);
    EXPECT_EQ(selected, QList<bool>({true, false}));
}

}  // namespace
}  // namespace kelto
