#include "Kelto_Sync/Settings/LicensesView.h"

#include <QApplication>
#include <QDir>
#include <QScrollBar>
#include <QTextDocument>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace kelto {
namespace {

class LicensesViewTest : public testing::Test {
protected:
    LicensesViewTest() { QDir().mkpath(folder); }
    void write(const QString& name, const QByteArray& bytes) {
        QFile file(folder + u'/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    std::unique_ptr<LicensesView> shown(const QString& at) {
        auto view = std::make_unique<LicensesView>(SyncStrings::application(), at);
        view->show();
        return view;
    }

    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/Licenses");
};

TEST_F(LicensesViewTest, ShowsTheLicenceAndTheArchive) {
    write(QStringLiteral("COPYING"), "GNU GENERAL PUBLIC LICENSE\nVersion 3 — “quoted”\n");
    write(QStringLiteral("rsync-3.2.7.tar.gz"), "archive");
    auto view = shown(folder);
    EXPECT_EQ(view->size(), QSize(640, 500));
    EXPECT_EQ(view->license(), "GNU GENERAL PUBLIC LICENSE\nVersion 3 — “quoted”\n");
    EXPECT_EQ(view->textView()->toPlainText(), view->license());
    EXPECT_EQ(view->source(), folder + "/rsync-3.2.7.tar.gz");
    EXPECT_EQ(view->archiveLabel()->text(), "rsync-3.2.7.tar.gz");
    EXPECT_TRUE(view->revealButton()->isVisible());
    EXPECT_EQ(view->revealButton()->text(), "Show bundled source");
    EXPECT_EQ(view->notice(), "rsync is a separate executable licensed under GNU GPLv3. Its exact source is included "
                              "with Kelto Sync.");

    QSignalSpy rejected(view.get(), &QDialog::rejected);
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_EQ(rejected.size(), 1);
    EXPECT_FALSE(view->isVisible());
}

TEST_F(LicensesViewTest, AnUpperCaseSuffixIsNoArchiveAndTheNoticeSaysWhereTheSourceIs) {
    write(QStringLiteral("COPYING"), "text");
    write(QStringLiteral("rsync-3.2.7.TAR.GZ"), "archive");
    write(QStringLiteral("rsync.tar.gz.sig"), "signature");
    auto view = shown(folder);
    EXPECT_EQ(view->source(), std::nullopt);
    EXPECT_TRUE(view->archiveLabel()->isHidden());
    EXPECT_TRUE(view->revealButton()->isHidden());
    EXPECT_TRUE(view->notice().contains("rsync” source package")) << view->notice().toStdString();
    EXPECT_FALSE(view->notice().contains("included with Kelto Sync"));
}

TEST_F(LicensesViewTest, UnreadableTextShowsTheError) {
    write(QStringLiteral("COPYING"), QByteArray("valid then \xC3\x28 broken"));
    write(QStringLiteral("rsync.tar.gz"), "archive");
    auto broken = shown(folder);
    EXPECT_EQ(broken->license(), "The file “" + folder + "/COPYING” isn’t valid UTF-8 text.");
    EXPECT_EQ(broken->source(), std::nullopt);
    EXPECT_TRUE(broken->revealButton()->isHidden());

    auto missing = shown(root.path() + QStringLiteral("/nowhere"));
    EXPECT_TRUE(missing->license().startsWith("The file “" + root.path() + "/nowhere/COPYING” couldn’t be read: "))
        << missing->license().toStdString();
    EXPECT_EQ(missing->textView()->toPlainText(), missing->license());
}

// The notices' rules and columns are as wide as they were written: a line
// wider than the view scrolls sideways and is never broken.
TEST_F(LicensesViewTest, ALineWiderThanTheViewScrollsRatherThanWraps) {
    const QByteArray rule(120, '=');
    write(QStringLiteral("COPYING"), rule + "\nshort\n");
    auto view = shown(folder);
    view->load();
    QPlainTextEdit* text = view->textView();
    QApplication::processEvents();
    EXPECT_EQ(text->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_GT(text->horizontalScrollBar()->maximum(), 0);
}

}  // namespace
}  // namespace kelto
