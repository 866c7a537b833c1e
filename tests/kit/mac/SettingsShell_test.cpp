#include "FenraMac/SettingsSearchField.h"
#include "FenraMac/SettingsShell.h"
#include "FenraMac/SettingsSidebarList.h"
#include "tests/kit/mac/TestPanes.h"
#include "tests/support/widgets/QtPrinting.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>

#include <gtest/gtest.h>

namespace kelto {
namespace {

QStringList sidebarIds(const SettingsShell& shell) {
    QStringList ids;
    for (const SidebarRow& row : shell.sidebar()->rows()) {
        if (row.kind == SidebarRow::Kind::pane) {
            ids.append(row.paneId);
        }
    }
    return ids;
}

std::vector<SettingsPane> panes(std::initializer_list<const char*> ids) {
    std::vector<SettingsPane> result;
    for (const char* id : ids) {
        result.push_back(testPane(QString::fromLatin1(id), QString::fromLatin1(id), group("main")));
    }
    return result;
}

TEST(SettingsShellSelection, ResolvedWhenFirstShownAndWhenPanesOrSelectionChange) {
    Binding<QString> selection(QStringLiteral("gone"));
    SettingsShell shell(panes({"general", "sync"}), selection, QStringLiteral("general"));
    EXPECT_EQ(selection.get(), QStringLiteral("gone"));  // not before it is shown
    shell.show();
    EXPECT_EQ(selection.get(), QStringLiteral("general"));
    ASSERT_NE(shell.detail(), nullptr);
    EXPECT_TRUE(shell.detail()->isVisible());

    selection.set(QStringLiteral("sync"));
    QWidget* syncDetail = shell.detail();
    selection.set(QStringLiteral("elsewhere"));
    EXPECT_EQ(selection.get(), QStringLiteral("general"));

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

class SettingsShellTest : public testing::Test {
protected:
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
        for (const SettingsRow* row : shell.detail()->findChildren<SettingsRow*>()) {
            if (row->highlighted()) {
                lit.append(row->title());
            }
        }
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

TEST_F(SettingsShellTest, CtrlFFocusesTheFieldAndSelectsItsText) {
    shell.query().set(QStringLiteral("sync"));
    shell.sidebar()->setFocus();
    ASSERT_FALSE(shell.searchField()->hasFocus());
    QTest::keyClick(shell.sidebar(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(shell.searchField()->hasFocus());
    EXPECT_EQ(shell.searchField()->selectedText(), QStringLiteral("sync"));
}

// Counts the Escape presses that reach the shell.
struct EscapeCounter : QObject {
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            ++count;
        }
        return false;
    }
};

TEST_F(SettingsShellTest, EscapeClearsTheQueryInTheFieldAndOutsideIt) {
    EscapeCounter reachingShell;
    shell.installEventFilter(&reachingShell);
    QTest::keyClicks(shell.searchField(), QStringLiteral("adv"));
    QTest::keyClick(shell.searchField(), Qt::Key_Escape);
    EXPECT_EQ(shell.query().get(), QString());
    EXPECT_EQ(shell.searchField()->text(), QString());
    EXPECT_EQ(reachingShell.count, 0);

    QTest::keyClicks(shell.searchField(), QStringLiteral("adv"));
    QTest::keyClick(shell.sidebar(), Qt::Key_Escape);
    EXPECT_EQ(reachingShell.count, 1);
    EXPECT_EQ(shell.query().get(), QString());
    EXPECT_EQ(shell.searchField()->text(), QString());
}

TEST_F(SettingsShellTest, FieldTextsFollowTheLocaleAndTheSidebarCannotCollapse) {
    SettingsSearchField& field = *shell.searchField();
    EXPECT_EQ(field.placeholderText(), QString::fromUtf8("Search settings…"));
    shell.setLocale(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
    EXPECT_EQ(field.placeholderText(), QString::fromUtf8("Tìm kiếm cài đặt…"));
    EXPECT_EQ(field.accessibleName(), QString::fromUtf8("Tìm kiếm cài đặt"));
    shell.setLocale(QLocale(QLocale::Japanese));
    EXPECT_EQ(field.placeholderText(), QString::fromUtf8("Search settings…"));
    EXPECT_EQ(field.accessibleName(), QStringLiteral("Search settings"));

    QSplitter& split = *shell.splitter();
    EXPECT_EQ(split.widget(0)->width(), 232);
    split.setSizes({0, 780});
    EXPECT_FALSE(split.isCollapsible(0));
    EXPECT_EQ(split.widget(0)->width(), 210);
    split.setSizes({500, 280});
    EXPECT_EQ(split.widget(0)->width(), 280);
}

}  // namespace
}  // namespace kelto
