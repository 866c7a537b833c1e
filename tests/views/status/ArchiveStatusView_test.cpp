#include "Kelto_Sync/ArchiveSize.h"
#include "Kelto_Sync/ArchiveStatusView.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "SyncAutomation/AppModelError.h"
#include "SyncEngine/ArchiveDirectories.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/views/status/StatusFixtures.h"
#include <QGuiApplication>
#include <QSignalSpy>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelto {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, std::size_t size) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

struct ArchiveHarness : ViewHarness {
    test::TemporaryFolder folder;
    QStringList opened, revealed;
    bool shows = true;  // what the file manager answers
    fs::path root(const char* name) {
        fs::create_directories(folder.path() / name);
        return folder.path() / name;
    }
    // An archive tree on `root` holding `bytes` in one run folder.
    fs::path archive(const fs::path& root, std::size_t bytes) {
        const fs::path run = ArchiveDirectories::jobArchiveURL(root, job.id) / "2024-05-01_10-00-00";
        writeFile(run / "a.txt", bytes);
        return run;
    }
    std::unique_ptr<ArchiveStatusView> view() {
        StatusViewActions actions;
        actions.openFolder = [this](const QString& path, StatusViewActions::Shown shown) { opened << path, shown(shows); };
        actions.reveal = [this](const QString& path, StatusViewActions::Shown shown) { revealed << path, shown(shows); };
        auto made = std::make_unique<ArchiveStatusView>(adapter, job.id, SyncStrings::application(), actions);
        made->setLocale(english);
        return made;
    }
    // Answers the pending roots request and waits for the view to apply it.
    void load(ArchiveStatusView& view, Result<AppModelAdapter::Roots> roots) {
        QSignalSpy loaded(&view, &ArchiveStatusView::loaded);
        fake.answerRoots(std::move(roots));
        ASSERT_TRUE(loaded.wait(5000));
    }
    // A view shown with an archive of `bytes` on each of the roots.
    std::unique_ptr<ArchiveStatusView> shownOver(const std::vector<fs::path>& roots, std::size_t bytes = 10) {
        for (const fs::path& at : roots) archive(at, bytes);
        auto made = view();
        made->show();
        load(*made, AppModelAdapter::Roots(roots.begin(), roots.end()));
        return made;
    }
    // A good clean: the prune answered, then the reload with `roots`.
    void cleaned(ArchiveStatusView& view, AppModelAdapter::Roots roots) {
        QSignalSpy finished(&view, &ArchiveStatusView::cleanFinished);
        fake.answerPrune();
        settle();
        EXPECT_TRUE(view.cleaning());
        fake.answerRoots(std::move(roots));
        ASSERT_TRUE(finished.wait(5000));
    }
};

bool enabled(const QWidget& view, const char* name) { return button(view, name)->isEnabled(); }

TEST(AppModelAdapter, OneSignalPerPropertyAndAnswersLaterOnlyToLivingReceivers) {
    FakeAppModel fake;
    AppModelAdapter adapter(fake);
    QSignalSpy jobs(&adapter, &AppModelAdapter::jobsChanged);
    QSignalSpy statuses(&adapter, &AppModelAdapter::statusesChanged);
    QSignalSpy records(&adapter, &AppModelAdapter::lastRecordsChanged);
    const SyncJob job = sampleJob();
    fake.setJobs({job});
    fake.setStatus(job.id, RunStatus::queued());
    EXPECT_EQ(std::tuple(jobs.count(), statuses.count(), records.count()), std::tuple(1, 1, 0));
    QObject receiver;
    std::vector<std::size_t> answers;
    adapter.archiveRoots(job.id, &receiver, [&](Result<AppModelAdapter::Roots> roots) { answers.push_back(roots.get().size()); });
    fake.answerRoots(AppModelAdapter::Roots{"/a", "/b"});
    EXPECT_TRUE(answers.empty());  // never inside the model's call
    settle();
    EXPECT_EQ(answers, std::vector<std::size_t>{2});
    bool failed = false;
    adapter.pruneArchives(job.id, &receiver, [&](Result<void> result) { failed = !result.hasValue(); });
    fake.answerPrune(std::make_exception_ptr(AppModelError::jobBusy()));
    settle();
    EXPECT_TRUE(failed);
    {
        QObject gone;
        adapter.archiveRoots(job.id, &gone, [&](Result<AppModelAdapter::Roots>) { answers.push_back(0); });
        fake.answerRoots(AppModelAdapter::Roots{});
    }
    settle();
    EXPECT_EQ(answers.size(), 1u);
}

// "Clean now" pressed: the confirmation it opens (an earlier one may await deletion).
QMessageBox* askToClean(ArchiveStatusView& view) {
    click(view, "clean");
    for (auto* box : view.findChildren<QMessageBox*>(QStringLiteral("confirmClean")))
        if (box->isVisible()) return box;
    ADD_FAILURE() << "no confirmation";
    return nullptr;
}

TEST(ArchiveSize, CountsRegularFilesOfTheJobsTreeOnly) {
    ArchiveHarness h;
    const fs::path a = h.root("a");
    const fs::path b = h.root("b");
    const fs::path bare = h.root("bare");
    const fs::path run = h.archive(a, 1000);
    writeFile(run / "deep/down/b.bin", 24);
    fs::create_directories(run / "empty");
    fs::create_symlink(run / "a.txt", run / "link.txt");
    fs::create_directory_symlink(b, run / "linked-folder");
    h.archive(b, 500);
    writeFile(bare / "not-archived.txt", 77);
    EXPECT_EQ(ArchiveSize::total({a}, h.job.id), 1024);
    EXPECT_EQ(ArchiveSize::total({b}, h.job.id), 500);
    EXPECT_EQ(ArchiveSize::total({a, b, bare}, h.job.id), 1524);
    EXPECT_EQ(ArchiveSize::total({a}, Uuid::random()), 0);
}

// Folders gone mid-walk (a bound /proc folder of a dead process lists with ESRCH) are left out.
TEST(ArchiveSize, GoesOnPastFoldersThatCannotBeListed) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to bind folders into the archive";
    ArchiveHarness h;
    const fs::path root = h.root("r");
    const fs::path run = h.archive(root, 100);
    const pid_t child = fork();
    if (child == 0) pause(), _exit(0);
    ASSERT_GT(child, 0);
    std::vector<fs::path> mounts;
    struct Unmount {
        std::vector<fs::path>& at;
        ~Unmount() { for (const fs::path& path : at) umount2(path.c_str(), MNT_DETACH); }
    } unmount{mounts};
    const std::string procFolder = "/proc/" + std::to_string(child);
    for (int i = 0; i < 6; ++i) {
        writeFile(run / ("f" + std::to_string(i)), 10);
        if (i % 2 != 0) continue;
        const fs::path gone = run / ("gone" + std::to_string(i));
        fs::create_directory(gone);
        ASSERT_EQ(mount(procFolder.c_str(), gone.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
        mounts.push_back(gone);
    }
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(ArchiveSize::total({root}, h.job.id), 160);
}

TEST(ArchiveStatusView, ReloadsPerNewRecordSizesTheRootsOpensOrRevealsThemAndNamesTheRetention) {
    ArchiveHarness h;
    const fs::path dest = h.root("dest");
    const fs::path source = h.root("source");
    h.archive(dest, 2000);
    auto view = h.view();
    h.fake.setLastRecord(record(sampleJob(), 0));
    EXPECT_EQ(h.fake.pendingRoots.size(), 1u) << "another job's record";
    h.fake.setLastRecord(record(h.job, 0));
    EXPECT_EQ(h.fake.pendingRoots.size(), 2u);
    h.fake.answerRoots(AppModelAdapter::Roots{h.root("old")});  // the older answer, late, is dropped
    h.load(*view, AppModelAdapter::Roots{});  // no roots, nothing to do
    EXPECT_TRUE(view->roots().empty());
    EXPECT_FALSE(enabled(*view, "open") || enabled(*view, "clean") || shown(*view, "error"));
    view->load();
    h.load(*view, AppModelAdapter::Roots{dest});
    EXPECT_EQ(view->bytes(), 2000);
    EXPECT_TRUE(enabled(*view, "open") && enabled(*view, "clean"));
    // Both sides of a two-way job; the source has no archive tree yet.
    view->load();
    h.load(*view, AppModelAdapter::Roots{source, dest});
    EXPECT_EQ(view->bytes(), 2000);
    click(*view, "open");
    EXPECT_EQ(h.revealed, QStringList{QString::fromStdString(source.string())});
    EXPECT_EQ(h.opened, QStringList{QString::fromStdString(ArchiveDirectories::jobArchiveURL(dest, h.job.id).string())});
    // A failed lookup keeps what was shown.
    view->load();
    h.load(*view, std::make_exception_ptr(AppModelError::jobNotFound()));
    EXPECT_EQ(std::pair(view->bytes(), view->roots().size()), std::pair(std::int64_t{2000}, 2ul));
    EXPECT_TRUE(shown(*view, "error"));
    // The retention beside the size follows the saved job.
    h.job.options.archiveRetentionDays.reset();
    h.fake.setJobs({h.job});
    EXPECT_TRUE(textOf(*view, "size").endsWith("Kept forever"));
    h.fake.setJobs({});
    EXPECT_EQ(textOf(*view, "size"), DisplayFormat::bytes(2000, english));
}

TEST(ArchiveStatusView, CleanAsksFirstDeletesNothingOnReturnAndReloadsAfterwards) {
    ArchiveHarness h;
    const fs::path dest = h.root("dest");
    auto view = h.shownOver({dest}, 3000);
    h.fake.setStatus(h.job.id, RunStatus::queued());
    EXPECT_FALSE(enabled(*view, "clean"));
    h.fake.setStatus(h.job.id, std::nullopt);
    EXPECT_TRUE(enabled(*view, "clean"));
    // Return in the confirmation cancels, as Escape and its button do: deleting takes a click on "Clean now".
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_unknown}) {
        QPointer<QMessageBox> box = askToClean(*view);
        ASSERT_TRUE(box);
        EXPECT_NE(box->defaultButton(), button(*box, "confirm"));
        if (key == Qt::Key_unknown) {
            button(*box, "cancel")->click();
        } else {
            QTest::keyClick(box->focusWidget() != nullptr ? box->focusWidget() : box.data(), key);
        }
        settle();
        EXPECT_FALSE(box && box->isVisible()) << "closed by " << key;
        EXPECT_TRUE(h.fake.pendingPrunes.empty()) << "deleted by " << key;
    }
    // A refused clean keeps the size and says why.
    button(*askToClean(*view), "confirm")->click();
    EXPECT_TRUE(view->cleaning() && enabled(*view, "open"));
    EXPECT_FALSE(enabled(*view, "clean"));
    QSignalSpy finished(view.get(), &ArchiveStatusView::cleanFinished);
    h.fake.answerPrune(std::make_exception_ptr(AppModelError::jobBusy()));
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(view->cleaning());
    EXPECT_EQ(view->bytes(), 3000);
    EXPECT_TRUE(shown(*view, "error") && h.fake.pendingRoots.empty());
    // A good clean reloads and shows what stayed.
    button(*askToClean(*view), "confirm")->click();
    fs::remove_all(ArchiveDirectories::jobArchiveURL(dest, h.job.id));
    h.cleaned(*view, AppModelAdapter::Roots{dest});
    EXPECT_FALSE(view->cleaning() || shown(*view, "error"));
    EXPECT_EQ(view->bytes(), 0);
}

TEST(ArchiveStatusView, AnArchiveNoFileManagerShowsSaysSoUntilAPressOrAGoodLoad) {
    ArchiveHarness h;
    const fs::path source = h.root("source");
    const fs::path dest = h.root("dest");
    h.archive(dest, 10);
    auto view = h.view();
    view->show();
    h.load(*view, AppModelAdapter::Roots{source, dest});
    EXPECT_FALSE(shown(*view, "openFailed"));
    h.shows = false;
    click(*view, "open");
    EXPECT_EQ(h.opened.size() + h.revealed.size(), 2) << "an archive folder opened, a root revealed";
    EXPECT_TRUE(shown(*view, "openFailed"));
    const RevealAlerts alerts = takeRevealAlerts();
    QStringList asked = h.opened + h.revealed;
    asked.sort();
    EXPECT_EQ(alerts.paths, asked);
    EXPECT_TRUE(alerts.selectable);
    h.shows = true;
    click(*view, "open");
    EXPECT_FALSE(shown(*view, "openFailed"));
    // Every failure shown goes with the next good load, not with a failed one.
    h.shows = false;
    click(*view, "open");
    view->load();
    h.load(*view, std::make_exception_ptr(AppModelError::jobNotFound()));
    EXPECT_TRUE(shown(*view, "error"));
    EXPECT_TRUE(shown(*view, "openFailed")) << "a failed load clears nothing";
    takeRevealAlerts();  // answered, so the window takes clicks again
    button(*askToClean(*view), "confirm")->click();
    h.cleaned(*view, AppModelAdapter::Roots{source, dest});
    EXPECT_FALSE(shown(*view, "error") || shown(*view, "openFailed"));
    SCOPED_TRACE("BothSidesNotShownMakeOneAlertThatLeavesNothingOnceAnswered");
    h.opened.clear();
    h.revealed.clear();
    click(*view, "open");
    QList<QMessageBox*> boxes = view->findChildren<QMessageBox*>(QStringLiteral("revealFailedAlert"));
    boxes.removeIf([](QMessageBox* box) { return !box->isVisible(); });
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0]->informativeText(), (h.revealed + h.opened).join(QLatin1Char('\n'))) << "in the roots' order";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == boxes[0]->windowHandle(); }));
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Return);
    settle();
    EXPECT_FALSE(shown(*view, "openFailed"));
    EXPECT_TRUE(takeRevealAlerts().paths.isEmpty());
}

}  // namespace
}  // namespace kelto
