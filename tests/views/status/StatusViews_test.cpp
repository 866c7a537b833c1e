#include "FenraCore/FenraLabel.h"
#include "FenraCore/FenraTheme.h"
#include "Kelto_Sync/ArchiveSize.h"
#include "Kelto_Sync/ArchiveStatusView.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/HistoryView.h"
#include "Kelto_Sync/JobOverviewView.h"
#include "Kelto_Sync/ProgressPanel.h"
#include "Kelto_Sync/internal/FittingBox.h"
#include "Kelto_Sync/internal/HistoryRow.h"
#include "SyncAutomation/AppModelError.h"
#include "SyncEngine/ArchiveDirectories.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <cerrno>
#include <csignal>
#include <cstring>
#include <QAccessible>
#include <QDialog>
#include <QSignalSpy>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelto {
namespace {

namespace fs = std::filesystem;
using Roots = AppModelAdapter::Roots;

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
    void load(ArchiveStatusView& view, Result<Roots> roots) {
        QSignalSpy loaded(&view, &ArchiveStatusView::loaded);
        fake.answerRoots(std::move(roots));
        ASSERT_TRUE(loaded.wait(5000));
    }
    void reload(ArchiveStatusView& view, Result<Roots> roots) { view.load(), load(view, std::move(roots)); }
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
    adapter.archiveRoots(job.id, &receiver, [&](Result<Roots> roots) { answers.push_back(roots.get().size()); });
    fake.answerRoots(Roots{"/a", "/b"});
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
        adapter.archiveRoots(job.id, &gone, [&](Result<Roots>) { answers.push_back(0); });
        fake.answerRoots(Roots{});
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

TEST(ArchiveSize, CountsRegularFilesOfTheJobsTreeOnlyAndGoesOnPastFoldersThatCannotBeListed) {
    ArchiveHarness h;
    const fs::path a = h.root("a"), b = h.root("b"), bare = h.root("bare");
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
    // Folders gone mid-walk (a bound /proc folder of a dead process lists with ESRCH) are left out.
    SCOPED_TRACE("GoesOnPastFoldersThatCannotBeListed");
    if (geteuid() != 0) GTEST_SKIP() << "needs root to bind folders into the archive";
    const fs::path root = h.root("r");
    const fs::path walked = h.archive(root, 100);
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
        writeFile(walked / ("f" + std::to_string(i)), 10);
        if (i % 2 != 0) continue;
        const fs::path gone = walked / ("gone" + std::to_string(i));
        fs::create_directory(gone);
        ASSERT_EQ(mount(procFolder.c_str(), gone.c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
        mounts.push_back(gone);
    }
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_EQ(ArchiveSize::total({root}, h.job.id), 160);
}

TEST(ArchiveStatusView, AnArchiveNoFileManagerShowsSaysSoUntilAPressOrAGoodLoad) {
    ArchiveHarness h;
    const fs::path source = h.root("source"), dest = h.root("dest");
    h.archive(dest, 2000);
    auto view = h.view();
    view->show();
    SCOPED_TRACE("ReloadsPerNewRecordSizesTheRootsOpensOrRevealsThemAndNamesTheRetention");
    h.fake.setLastRecord(record(sampleJob(), 0));
    EXPECT_EQ(h.fake.pendingRoots.size(), 1u) << "another job's record";
    h.fake.setLastRecord(record(h.job, 0));
    EXPECT_EQ(h.fake.pendingRoots.size(), 2u);
    h.fake.answerRoots(Roots{h.root("old")});  // the older answer, late, is dropped
    h.load(*view, Roots{});  // no roots, nothing to do
    EXPECT_TRUE(view->roots().empty());
    EXPECT_FALSE(enabled(*view, "open") || enabled(*view, "clean") || shown(*view, "error"));
    h.reload(*view, Roots{dest});
    EXPECT_EQ(view->bytes(), 2000);
    EXPECT_TRUE(enabled(*view, "open") && enabled(*view, "clean"));
    // The source of a two-way job has no archive tree yet.
    h.reload(*view, Roots{source, dest});
    EXPECT_EQ(view->bytes(), 2000);
    click(*view, "open");
    EXPECT_EQ(h.revealed, QStringList{QString::fromStdString(source.string())});
    EXPECT_EQ(h.opened, QStringList{QString::fromStdString(ArchiveDirectories::jobArchiveURL(dest, h.job.id).string())});
    // A failed lookup keeps what was shown.
    h.reload(*view, std::make_exception_ptr(AppModelError::jobNotFound()));
    EXPECT_EQ(std::pair(view->bytes(), view->roots().size()), std::pair(std::int64_t{2000}, 2ul));
    EXPECT_TRUE(shown(*view, "error"));
    // The retention beside the size follows the saved job.
    h.job.options.archiveRetentionDays.reset();
    h.fake.setJobs({h.job});
    EXPECT_TRUE(textOf(*view, "size").endsWith("Kept forever"));
    h.fake.setJobs({});
    EXPECT_EQ(textOf(*view, "size"), DisplayFormat::bytes(2000, english));
    h.opened.clear();
    h.revealed.clear();
    h.reload(*view, Roots{source, dest});
    h.fake.setStatus(h.job.id, RunStatus::queued());
    EXPECT_FALSE(enabled(*view, "clean"));
    h.fake.setStatus(h.job.id, std::nullopt);
    EXPECT_TRUE(enabled(*view, "clean"));
    // Deleting takes a click on "Clean now": Return cancels, as Escape does.
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
    EXPECT_EQ(view->bytes(), 2000);
    EXPECT_TRUE(shown(*view, "error") && h.fake.pendingRoots.empty());
    EXPECT_FALSE(shown(*view, "openFailed"));
    h.shows = false;
    click(*view, "open");
    EXPECT_EQ(h.opened.size() + h.revealed.size(), 2) << "an archive folder opened, a root revealed";
    EXPECT_TRUE(shown(*view, "openFailed"));
    QStringList asked = h.opened + h.revealed;
    asked.sort();
    EXPECT_EQ(takeRevealAlerts(), (RevealAlerts{asked, true}));
    h.shows = true;
    click(*view, "open");
    EXPECT_FALSE(shown(*view, "openFailed"));
    h.shows = false;
    click(*view, "open");
    h.reload(*view, std::make_exception_ptr(AppModelError::jobNotFound()));
    EXPECT_TRUE(shown(*view, "error"));
    EXPECT_TRUE(shown(*view, "openFailed")) << "a failed load clears nothing";
    takeRevealAlerts();
    // A good clean reloads and shows what stayed.
    button(*askToClean(*view), "confirm")->click();
    fs::remove_all(ArchiveDirectories::jobArchiveURL(dest, h.job.id));
    h.fake.answerPrune();
    settle();
    EXPECT_TRUE(view->cleaning());
    h.fake.answerRoots(Roots{source, dest});
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(view->cleaning() || shown(*view, "error") || shown(*view, "openFailed"));
    EXPECT_EQ(view->bytes(), 0);
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

struct HistoryHarness : ViewHarness {
    std::vector<RunRecord> stored;
    HistoryHarness() { fake.historySource = [this](const Uuid&) { return stored; }; }
    std::unique_ptr<HistoryView> view(std::optional<int> limit, StatusViewActions actions = {}) {
        auto made = std::make_unique<HistoryView>(adapter, job.id, limit, SyncStrings::application(),
                                                  std::move(actions), clock);
        made->setLocale(english);
        settle();
        return made;
    }
};

QList<HistoryRow*> rows(const HistoryView& view) { return view.findChildren<HistoryRow*>(); }

// What a caption shows, not only what it decided.
bool placedSideBySide(const FittingBox& caption) {
    const auto* trigger = caption.findChild<QLabel*>(QStringLiteral("trigger"));
    const auto* end = caption.findChild<QLabel*>(QStringLiteral("endTime"));
    const bool beside = end->x() > trigger->geometry().right() && end->y() == trigger->y();
    EXPECT_EQ(beside, !caption.stacked());
    return beside;
}

TEST(HistoryView, ShowsNeverRunThenTheLimitedOrFullListWithCountsInTheFormOfTheirNumber) {
    HistoryHarness h;
    SCOPED_TRACE("AFailedLoadShowsItsErrorKeepsTheRowsAndReloadsOncePerNewRecord");
    bool failing = true;
    h.fake.historySource = [&](const Uuid&) -> std::vector<RunRecord> {
        if (failing) throw std::runtime_error("The history cannot be read.");
        return h.stored;
    };
    auto failed = h.view(3);
    EXPECT_EQ(textOf(*failed, "error"), QStringLiteral("The history cannot be read."));
    EXPECT_FALSE(shown(*failed, "empty")) << "the job may well have run";
    failing = false;
    h.stored = {record(h.job, 0), record(h.job, 1)};
    h.fake.setLastRecord(h.stored[0]);
    settle();
    EXPECT_FALSE(shown(*failed, "error"));
    failing = true;
    const RunRecord last = record(h.job, 2);
    h.fake.setLastRecord(last);
    settle();
    EXPECT_TRUE(shown(*failed, "error") && rows(*failed).size() == 2);
    // One read per new record of its job: not for another job's, nor one told again; one for two in a row.
    failing = false;
    const int reads = h.fake.historyCalls;
    h.fake.setLastRecord(record(sampleJob(), 0));
    h.fake.setLastRecord(last);
    settle();
    EXPECT_EQ(h.fake.historyCalls, reads);
    h.fake.setLastRecord(record(h.job, 3));
    h.fake.setLastRecord(record(h.job, 4));
    settle();
    EXPECT_EQ(h.fake.historyCalls, reads + 1);
    h.stored.clear();
    auto empty = h.view(3);
    EXPECT_TRUE(shown(*empty, "empty") && rows(*empty).isEmpty());
    for (int i = 0; i < 10; ++i) h.stored.push_back(record(h.job, i));
    for (int count : {1, 2}) h.stored[count - 1].stats.filesCopied = h.stored[count - 1].stats.filesArchived = count;
    auto recent = h.view(3);
    ASSERT_EQ(rows(*recent).size(), 3);
    EXPECT_FALSE(shown(*recent, "empty"));
    EXPECT_EQ(textOf(*rows(*recent)[0], "endTime"), DisplayFormat::dateTime(h.stored[0].endedAt, english));
    auto all = h.view(std::nullopt);
    ASSERT_EQ(rows(*all).size(), 10);
    EXPECT_EQ(textOf(*rows(*all)[0], "endTime"), DisplayFormat::relative(h.stored[0].endedAt, h.clock.now(), english));
    EXPECT_TRUE(textOf(*rows(*all)[0], "copied").startsWith("Copied: 1 file, "));
    EXPECT_EQ(textOf(*rows(*all)[0], "archived"), "Archived: 1 file");
    EXPECT_EQ(textOf(*rows(*all)[1], "archived"), "Archived: 2 files");
    auto none = h.view(0);
    EXPECT_TRUE(rows(*none).isEmpty() && !shown(*none, "empty"));
    SCOPED_TRACE("EveryCaptionFitsSideBySideAtFullWidthAndStacksWhenNarrow");
    h.stored[1].outcome = RunOutcome::completedWithWarnings();
    QWidget host;  // not a window, so the view can be made narrower than its layout wants
    host.resize(560, 400);
    auto* view = new HistoryView(h.adapter, h.job.id, 3, SyncStrings::application(), {}, h.clock, &host);
    view->setLocale(english);
    view->resize(560, 400);
    host.show();
    settle();
    const QList<FittingBox*> captions = view->findChildren<FittingBox*>(QStringLiteral("caption"));
    ASSERT_EQ(captions.size(), 3);
    for (const int width : {560, 120, 560}) {
        view->resize(width, 400);
        settle();
        for (int i = 0; i < captions.size(); ++i) EXPECT_EQ(placedSideBySide(*captions[i]), width > 120) << i;
    }
}

// A run's failure is also stored among its errors: the details say each text once, however it is spelled.
TEST(HistoryView, DetailsFollowTheOutcomeSayingEachTextOnce) {
    HistoryHarness h;
    RunRecord failed = record(h.job, 0, RunOutcome::failed("The disk is full."));
    failed.stats.skipped = {{"Big/movie.mkv", FileSkipReason::tooLargeForFAT}};
    failed.stats.errors = {"open a: Operation not permitted", "The disk is full.", "open b: Operation not permitted"};
    failed.logPath = "/home/ann/.local/state/kelto/logs/run.log";
    RunRecord skipped = record(h.job, 1, RunOutcome::skipped(SkipReason::onBattery));
    skipped.stats.errors = {"open c: operation not permitted"};
    RunRecord review = record(h.job, 2, RunOutcome::needsReview("Caf\u00e9 would lose 40 files."));
    review.stats.errors = {"Cafe\u0301 would lose 40 files."};
    RunRecord fine = record(h.job, 3);
    fine.stats.errors = {"open d: Operation not permitted"};
    h.stored = {failed, skipped, review, fine};
    int grants = 0;
    bool logShown = true;
    QStringList revealed;
    StatusViewActions actions;
    actions.grantFullDiskAccess = [&] { ++grants; };
    actions.reveal = [&](const QString& path, StatusViewActions::Shown shown) { revealed << path, shown(logShown); };
    auto view = h.view(std::nullopt, actions);
    view->show();
    const auto shownRows = rows(*view);
    ASSERT_EQ(shownRows.size(), 4);
    auto* row = shownRows[0];
    EXPECT_FALSE(shown(*row, "details"));
    auto* disclosure = child(*row, "disclosure");
    const auto closedLook = DrawnPanels::of(*disclosure);
    QTest::mouseClick(disclosure, Qt::LeftButton);
    EXPECT_EQ(DrawnPanels::of(*disclosure), closedLook) << "one look open or closed";
    EXPECT_TRUE(shown(*row, "details"));
    EXPECT_EQ(textOf(*row, "failure"), QStringLiteral("The disk is full."));
    EXPECT_TRUE(textOf(*row, "skippedFile").startsWith(QStringLiteral("Big/movie.mkv")));
    EXPECT_EQ(row->findChildren<QPushButton*>(QStringLiteral("grantFullDiskAccess")).size(), 1);
    click(*row, "grantFullDiskAccess");
    click(*row, "showLog");
    EXPECT_EQ(grants, 1);
    EXPECT_EQ(revealed, QStringList{QString::fromStdString(*failed.logPath)});
    EXPECT_FALSE(shown(*row, "showLogFailed"));
    EXPECT_EQ(textOf(*shownRows[1], "skipReason"), QStringLiteral("Running on battery"));
    EXPECT_TRUE(button(*shownRows[1], "grantFullDiskAccess") == nullptr && button(*shownRows[1], "showLog") == nullptr)
        << "a permission error in lower case, no log";
    EXPECT_EQ(textOf(*shownRows[2], "review"), QStringLiteral("Caf\u00e9 would lose 40 files."));
    const auto count = [](const QWidget& row, const QString& text) {
        const auto labels = row.findChildren<QLabel*>();
        return std::count_if(labels.begin(), labels.end(), [&](const QLabel* label) {
            return label->text().normalized(QString::NormalizationForm_C) == text.normalized(QString::NormalizationForm_C);
        });
    };
    for (const auto& [row, text] : {std::pair{0, "The disk is full."}, std::pair{0, "open a: Operation not permitted"},
                                    std::pair{2, "Caf\u00e9 would lose 40 files."}})
        EXPECT_EQ(count(*shownRows[row], QString::fromUtf8(text)), 1) << text;
    for (const char* name : {"failure", "skipReason", "review"})
        EXPECT_EQ(child<QLabel>(*shownRows[3], name), nullptr) << name;
    EXPECT_EQ(button(*h.view(std::nullopt), "grantFullDiskAccess"), nullptr) << "the host gives no grant action";
    SCOPED_TRACE("ALogNoFileManagerShowsSaysSoUnderItsButtonAndNamesItInAnAlert");
    logShown = false;
    click(*row, "showLog");
    EXPECT_TRUE(shown(*row, "showLogFailed"));
    EXPECT_EQ(takeRevealAlerts(), (RevealAlerts{{QString::fromStdString(*failed.logPath)}, true}));
    logShown = true;
    click(*row, "showLog");
    EXPECT_FALSE(shown(*row, "showLogFailed"));
}

struct OverviewHarness : ViewHarness {
    int previews = 0;
    std::unique_ptr<JobOverviewView> view() {
        auto made = std::make_unique<JobOverviewView>(adapter, job, SyncStrings::application(), [this] { ++previews; },
                                                      JobOverviewView::Parts{}, StatusViewActions{}, clock);
        made->setLocale(english);
        made->setJob(job);
        return made;
    }
};

TEST(JobOverviewView, ButtonsFollowTheEnablingTableRowsReadOutWholeAndKeepTheirPlaces) {
    OverviewHarness h;
    auto view = h.view();
    struct Row {
        const char* situation;
        std::optional<RunStatus> status;
        bool dirty, previewing, syncNow, preview, stop;
        const char* extra;
    };
    const Row table[] = {
        {"idle", std::nullopt, false, false, true, true, false, nullptr},
        {"dirty", std::nullopt, true, false, false, false, false, "saveFirst"},
        {"previewing", std::nullopt, false, true, true, false, false, "preparing"},
        {"queued", RunStatus::queued(), false, false, false, false, true, "runStatus"},
        {"running", running(SyncPhase::transferring), false, false, false, false, true, nullptr},
        {"awaiting", RunStatus::awaitingConfirmation(SyncPlan{}), false, false, false, false, true, "runStatus"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.situation);
        h.fake.setStatus(h.job.id, row.status);
        view->setDirty(row.dirty);
        view->setPreviewing(row.previewing);
        EXPECT_EQ(std::tuple(enabled(*view, "syncNow"), enabled(*view, "preview"), shown(*view, "stop")),
                  std::tuple(row.syncNow, row.preview, row.stop));
        for (const char* extra : {"saveFirst", "preparing", "runStatus"})
            EXPECT_EQ(shown(*view, extra), row.extra != nullptr && std::string(row.extra) == extra) << extra;
        auto* panel = view->findChild<ProgressPanel*>();
        EXPECT_EQ(panel != nullptr, row.status && row.status->kind() == RunStatus::Kind::running);
        EXPECT_FALSE(panel != nullptr && panel->findChild<QWidget*>(QStringLiteral("stop")) != nullptr);
    }
    h.fake.setStatus(h.job.id, RunStatus::queued());
    view->setPreviewing(false);
    click(*view, "stop");
    EXPECT_EQ(h.fake.cancelCalls, std::vector<Uuid>{h.job.id});
    h.fake.setStatus(h.job.id, std::nullopt);
    click(*view, "syncNow");
    click(*view, "preview");
    EXPECT_EQ(h.fake.runNowCalls, std::vector<Uuid>{h.job.id});
    EXPECT_EQ(h.previews, 1);
    SCOPED_TRACE("RowsReadOutWholeAndTellTheNextRun");
    EXPECT_FALSE(shown(*view, "archiveOff"));
    const auto element = [&](const char* name) { return QAccessible::queryAccessibleInterface(child(*view, name)); };
    EXPECT_EQ(element("source")->text(QAccessible::Name), "Source (A), Pictures");
    for (const char* name : {"modeRow", "source", "destination"}) EXPECT_EQ(element(name)->childCount(), 0) << name;
    h.job.options.archiveEnabled = false;
    for (SyncMode mode : {SyncMode::mirror, SyncMode::twoWay, SyncMode::copy}) {
        h.job.mode = mode;
        view->setJob(h.job);
        EXPECT_EQ(shown(*view, "archiveOff"), mode != SyncMode::copy) << enumName(mode);
    }
    h.fake.setLastRecord(record(h.job, 0));
    EXPECT_FALSE(shown(*view, "neverRun"));
    EXPECT_EQ(textOf(*view, "filesCopied"), "12 files copied");
    EXPECT_EQ(child(*view, "destination")->toolTip(), QString::fromStdString(h.job.destination.path));
    view->show();
    click(*view, "showAllHistory");
    auto* sheet = child<QDialog>(*view, "historySheet");
    ASSERT_TRUE(sheet != nullptr && sheet->isVisible());
    EXPECT_EQ(sheet->windowTitle(), "History") << "not the application's name alone";
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    SCOPED_TRACE("the next run");
    EXPECT_FALSE(shown(*view, "nextConnect"));
    h.job.isEnabled = false;
    view->setJob(h.job);
    EXPECT_TRUE(shown(*view, "paused") && button(*view, "syncNow")->isEnabled());
    EXPECT_FALSE(shown(*view, "nextFire"));
    // On connect alone: the volumes as the columns name them; the unlabelled root ("/") is waited for by nothing.
    h.job.isEnabled = true;
    h.job.triggers = {Trigger::onConnect(ConnectAction::run)};
    const struct {
        Endpoint source, destination;
        const char* shown;
    } cases[] = {
        {h.job.source, h.job.destination, "Next: when Backup is connected"},
        {endpoint("/media/ann/Stick/Docs", VolumeKind::removable, "Stick"),
         endpoint("/mnt/nas/Docs", VolumeKind::network, "NAS"), "Next: when Stick, NAS is connected"},
        {endpoint("/media/ann/Stick/Docs", VolumeKind::removable, "Stick"),
         endpoint("/media/ann/Stick/Copy", VolumeKind::removable, "Stick"), "Next: when Stick, Stick is connected"},
        {endpoint("/home/ann/a", VolumeKind::internal, "Home"), endpoint("/home/ann/b", VolumeKind::internal, "Data"),
         "Next: when Data is connected"},
        {endpoint("/home/ann/a", VolumeKind::internal, "/"), endpoint("/srv/b", VolumeKind::internal, "/"), ""},
        {endpoint("/home/ann/a", VolumeKind::internal, "/"),
         endpoint("/media/ann/Stick/b", VolumeKind::removable, "Stick"), "Next: when Stick is connected"},
    };
    for (const auto& c : cases) {
        h.job.source = c.source;
        h.job.destination = c.destination;
        view->setJob(h.job);
        EXPECT_EQ(shown(*view, "nextConnect") ? textOf(*view, "nextConnect") : "", c.shown);
        EXPECT_FALSE(shown(*view, "nextFire"));
    }
    h.job.triggers.push_back(Trigger::daily({9, 0}));
    view->setJob(h.job);
    EXPECT_FALSE(shown(*view, "nextFire"));
    const Date fire = Date::fromUnix(1'700'010'000.0);
    h.fake.setFireDate(h.job.id, fire);
    EXPECT_EQ(textOf(*view, "nextFire"), "Next: " + DisplayFormat::dateTime(fire, english));
    EXPECT_TRUE(shown(*view, "nextConnect"));
    SCOPED_TRACE("EndpointsAndLastRunKeepTheirPlaces");
    h.job.source = endpoint("/home/ann/Pictures", VolumeKind::internal, "/");
    std::string longName;
    for (int i = 0; i < 12; ++i) longName += "a rather long folder name ";
    h.job.destination = endpoint("/media/ann/Backup/" + longName + "end", VolumeKind::removable, "Backup");
    h.fake.setJobs({h.job});
    h.fake.setLastRecord(record(h.job, 0, RunOutcome::completedWithWarnings()));
    view->setJob(h.job);
    view->setPalette(WidgetRender::lightPalette());
    view->resize(560, 700);
    settle();
    const auto* source = child(*view, "source");
    const auto* destination = child(*view, "destination");
    EXPECT_LE(destination->x() - (source->x() + source->width()), 12 + 32 + 12);
    EXPECT_TRUE(!shown(*source, "volume") && shown(*destination, "volume"));
    const auto* folder = destination->findChild<FenraLabel*>(QStringLiteral("folder"));
    EXPECT_TRUE(folder->shownTitle().endsWith(QChar(0x2026))) << folder->shownTitle().toStdString();
    EXPECT_LE(folder->height(), 2 * folder->fontMetrics().lineSpacing() + 2);
    const auto* outcome = view->findChild<QWidget*>(QStringLiteral("lastRun"))->findChild<FenraLabel*>("outcome");
    QList<QLabel*> labels = outcome->findChildren<QLabel*>();
    const QColor secondary = FenraTheme::textSecondary().color(ColorScheme::light);
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
        return !label->text().isEmpty() && label->palette().color(QPalette::WindowText) == secondary;
    })) << "the title is secondary";
    // With room, the columns line up and a long folder name takes one line whichever side names a volume.
    const std::string name = "A very long folder name that goes on for a while";
    for (const bool sourceHasVolume : {false, true}) {
        SCOPED_TRACE(sourceHasVolume ? "volume beside the source" : "volume beside the destination");
        OverviewHarness o;
        o.job.source = endpoint("/home/ann/" + name, VolumeKind::internal, sourceHasVolume ? "Home" : "/");
        o.job.destination = endpoint("/media/ann/Backup/Copy", VolumeKind::removable, sourceHasVolume ? "" : "Backup");
        o.fake.setJobs({o.job});
        auto wide = o.view();
        wide->resize(900, 700);
        wide->show();
        settle();
        const auto top = [&](const char* side, const char* part) {
            return wide->findChild<QWidget*>(side)->findChild<QWidget*>(part)->mapTo(wide.get(), QPoint(0, 0)).y();
        };
        EXPECT_EQ(top("source", "label"), top("destination", "label"));
        EXPECT_EQ(top("source", "folder"), top("destination", "folder"));
        const auto* one = wide->findChild<QWidget*>(QStringLiteral("source"))->findChild<FenraLabel*>("folder");
        EXPECT_EQ(one->shownTitle(), one->title());
        EXPECT_LT(one->height(), 2 * one->fontMetrics().lineSpacing()) << "one line";
    }
}

}  // namespace
}  // namespace kelto
