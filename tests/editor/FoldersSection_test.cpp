#include "Kelto_Sync/Editor/FolderPicker.h"
#include "Kelto_Sync/Editor/FoldersSection.h"
#include "tests/editor/EditorDraft.h"
#include "tests/support/widgets/WidgetRender.h"
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <deque>
#include <stdexcept>

namespace kelto {
namespace {

using Side = FoldersSection::Side;

struct FakePicker : FolderPicker {
    std::optional<QString> answer;
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override { return answer; }
};

// Lookups wait until the test releases them, in any order; a folder named "bad" fails.
struct HeldLookups {
    std::deque<std::function<void()>> held;
    FakePicker picker;
    FoldersSection::Services services() {
        return {[](const std::filesystem::path& folder) {
                    if (folder.filename() == "bad") throw std::runtime_error("Not a folder on a mounted volume");
                    Endpoint endpoint;
                    endpoint.path = folder.string();
                    endpoint.volume.name = "Disk";
                    return endpoint;
                },
                [this](std::function<void()> work) { held.push_back(std::move(work)); }, &picker};
    }
    void release(std::size_t index) {
        held[index]();
        QCoreApplication::sendPostedEvents();
    }
};

struct Folders {
    QTemporaryDir root;
    HeldLookups lookups;
    EditorDraft draft;
    FoldersSection section{SyncStrings::application(), draft.report(), lookups.services()};
    Folders() { draft.attach(section, SyncJob::newJob("Job")); }
    QString folder(const QString& name) {
        QDir(root.path()).mkpath(name);
        return root.filePath(name);
    }
};

TEST(FoldersSection, SubtitlesAndSwap) {
    Folders folders;
    FoldersSection& section = folders.section;
    const QString empty = section.sideRow(Side::source)->subtitle();
    EXPECT_FALSE(section.swapButton()->isEnabled());
    folders.lookups.picker.answer = folders.folder("a");
    QTest::mouseClick(section.sideRow(Side::source)->chooseButton(), Qt::LeftButton);
    folders.lookups.release(0);
    EXPECT_EQ(folders.draft.job.source.path, folders.folder("a").toStdString());
    EXPECT_EQ(section.sideRow(Side::source)->subtitle(), folders.folder("a") + QStringLiteral("\nDisk"));
    EXPECT_TRUE(section.swapButton()->isEnabled());
    const Endpoint chosen = folders.draft.job.source;
    QTest::mouseClick(section.swapButton(), Qt::LeftButton);
    EXPECT_EQ(folders.draft.job.destination, chosen);
    EXPECT_EQ(folders.draft.job.source, Endpoint::empty());
    EXPECT_EQ(section.sideRow(Side::source)->subtitle(), empty);
    // An unlabelled root file system goes by its mount point: no line, as in the overview.
    Endpoint unnamed;
    unnamed.path = "/srv/data";
    unnamed.volume.name = "/";
    EXPECT_EQ(FoldersSection::subtitle(unnamed, SyncStrings(), english), QStringLiteral("/srv/data"));
}

TEST(FoldersSection, TheDialogStartsInTheSidesFolderElseAtHome) {
    QTemporaryDir root;
    FoldersSection section(SyncStrings(), {}, {{}, [](std::function<void()>) {}, &FolderPicker::dialog()});
    SyncJob job = SyncJob::newJob("Job");
    job.source.path = root.path().toStdString();
    job.destination.path = root.filePath(QStringLiteral("gone")).toStdString();
    section.setJob(job);
    const auto openedIn = [&](Side side) {
        QString where;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                where = dialog->directory().absolutePath();
                dialog->reject();
            }
        });
        poll.start(10);
        section.sideRow(side)->chooseButton()->click();
        return where;
    };
    EXPECT_EQ(openedIn(Side::source), root.path());
    EXPECT_EQ(openedIn(Side::destination), QDir::homePath());
}

TEST(FoldersSection, SwapIconFollowsTheDesktopSwitchingToDark) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(WidgetRender::lightPalette());
    Folders folders;
    folders.section.show();
    const QImage light = folders.section.swapButton()->icon().pixmap(QSize(16, 16)).toImage();
    QApplication::setPalette(WidgetRender::darkPalette());
    QCoreApplication::processEvents();
    const QImage dark = folders.section.swapButton()->icon().pixmap(QSize(16, 16)).toImage();
    QApplication::setPalette(before);
    EXPECT_NE(light, dark);
}

// Drops take the first existing folder; a lookup overtaken by a later one for its side, or answered after the
// section is gone, reports nothing.
TEST(FoldersSection, DropsTakeTheFirstExistingFolderAndLateLookupsAreDropped) {
    Folders folders;
    const QString file = folders.root.filePath("note.txt");
    QFile(file).open(QIODevice::WriteOnly);
    const QUrl web(QStringLiteral("https://example.org/x"));
    for (const QList<QUrl>& urls : {QList<QUrl>{}, QList{QUrl::fromLocalFile(file)}, QList{web},
                                    QList{QUrl::fromLocalFile(folders.root.filePath("gone"))}})
        EXPECT_FALSE(folders.section.drop(Side::destination, urls)) << urls.value(0).toString().toStdString();
    EXPECT_TRUE(folders.lookups.held.empty());
    EXPECT_TRUE(folders.section.drop(
        Side::destination, {QUrl::fromLocalFile(folders.folder("one")), QUrl::fromLocalFile(folders.folder("two"))}));
    ASSERT_EQ(folders.lookups.held.size(), 1u);
    folders.section.apply(Side::source, folders.folder("old"));
    folders.section.apply(Side::source, folders.folder("new"));
    for (const std::size_t lookup : {2, 1, 0}) folders.lookups.release(lookup);
    EXPECT_EQ(folders.draft.job.source.path, folders.folder("new").toStdString());
    EXPECT_EQ(folders.draft.job.destination.path, folders.folder("one").toStdString());
    EXPECT_EQ(folders.draft.reports, 2);
    HeldLookups lookups;
    int reports = 0;
    FoldersSection(SyncStrings(), [&](const SyncJob&) { ++reports; }, lookups.services())
        .apply(Side::source, folders.folder("x"));
    lookups.release(0);
    EXPECT_EQ(reports, 0);
}

TEST(FoldersSection, ErrorStaysOnCancelAndGoesWithSuccess) {
    Folders folders;
    folders.section.setValidation({ValidationIssue::emptyName, ValidationIssue::samePath,
                                   ValidationIssue::retentionOutOfRange});
    const auto issues = folders.section.issues()->findChildren<QLabel*>();
    ASSERT_EQ(issues.size(), 1) << "the folders' issues only";
    folders.section.apply(Side::source, folders.folder("bad"));
    folders.lookups.release(0);
    EXPECT_EQ(folders.section.errorLabel()->text(), QStringLiteral("Not a folder on a mounted volume"));
    EXPECT_EQ(folders.draft.reports, 0);
    folders.lookups.picker.answer.reset();
    QTest::mouseClick(folders.section.sideRow(Side::source)->chooseButton(), Qt::LeftButton);
    EXPECT_FALSE(folders.section.errorLabel()->isHidden());
    folders.section.apply(Side::source, folders.folder("good"));
    folders.lookups.release(1);
    EXPECT_TRUE(folders.section.errorLabel()->isHidden());
    EXPECT_EQ(folders.draft.reports, 1);
    folders.section.apply(Side::source, QString::fromUtf8("/tmp/\xef\xbf\xbd"));
    EXPECT_EQ(folders.lookups.held.size(), 2u) << "a name not in UTF-8 is not looked up";
    EXPECT_FALSE(folders.section.errorLabel()->isHidden());
}

TEST(FolderPicker, TheDateColumnFitsTheWidestDateOfTheLocale) {
    const auto dialog = FolderPicker::folderDialog(nullptr, QStringLiteral("Choose folder"), QDir::homePath());
    auto* list = dialog->findChild<QTreeView*>(QStringLiteral("treeView"));
    const QFontMetrics metrics = list->fontMetrics();
    for (const QLocale& locale : {QLocale(QStringLiteral("C.UTF-8")), QLocale(QStringLiteral("en_US.UTF-8"))}) {
        SCOPED_TRACE(locale.name().toStdString());
        const int widest = FolderPicker::widestDate(metrics, locale);
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= QDate(2027, month, 1).daysInMonth(); ++day) {
                for (int hour = 0; hour < 24; ++hour) {
                    const QString shown = locale.toString(QDateTime(QDate(2027, month, day), QTime(hour, 59)),
                                                          QLocale::ShortFormat);
                    ASSERT_LE(metrics.horizontalAdvance(shown), widest) << shown.toStdString();
                }
            }
        }
    }
    const QString wide = QLocale::system().toString(QDateTime(QDate(2027, 12, 28), QTime(22, 48)), QLocale::ShortFormat);
    EXPECT_GE(list->header()->sectionSize(3), metrics.horizontalAdvance(wide) + 8) << wide.toStdString();
}

}  // namespace
}  // namespace kelto
