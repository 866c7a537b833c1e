// The whole application over the real bundle and its rsync, in this process or started as the real executable,
// on a virtual X server under openbox.
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include "FenraCore/WindowPlacement.h"
#include "FenraMac/FenraMacStrings.h"
#include "KeltoPermissions/PermissionChecklistView.h"
#include "KeltoPermissions/PermissionStrings.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/App/AppEntry.h"
#include "Kelto_Sync/App/KeltoSyncApp.h"
#include "Kelto_Sync/App/WindowMenu.h"
#include "Kelto_Sync/Editor/FoldersSection.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "Kelto_Sync/Notifications/NotificationRouter.h"
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "SyncModel/JobStore.h"
#include "SyncModel/JobStoreError.h"
#include "SyncModel/RunHistoryStore.h"
#include "SyncAutomation/VolumeInspector.h"
#include "tests/support/FakeSystemEvents.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/SavedJobs.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <vector>

using namespace kelto;

namespace {

constexpr int patience = 60000;

struct RecordingNotifications final : NotificationCenter {
    void add(const NotificationRequest& request) override { posted.push_back(request); }
    void remove(const QString& identifier) override { removed.push_back(identifier); }
    void requestAuthorization(AuthorizationAnswer answer) override {
        QTimer::singleShot(0, [answer = std::move(answer)] { answer(true, nullptr); });
    }
    void setResponseHandler(ResponseHandler) override {}
    std::vector<NotificationRequest> posted;
    std::vector<QString> removed;
};

template <typename Widget>
Widget* shown() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* found = qobject_cast<Widget*>(top) ? qobject_cast<Widget*>(top) : top->findChild<Widget*>();
        if (top->isVisible() && found != nullptr && found->isVisible()) return found;
    }
    return nullptr;
}

// Clicks `choose` and answers its modal file dialog as a person would: the path typed, then Open.
void chooseFolder(QPushButton* choose, const std::filesystem::path& folder) {
    bool answered = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible() || answered) return;
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        if (name == nullptr || buttons == nullptr) return;
        answered = true;
        dialog->activateWindow();  // the dialog rewrites an unfocused field from what its list selects
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog->isActiveWindow(); }, patience));
        name->setFocus();
        name->clear();
        QTest::keyClicks(name, QString::fromStdString(folder.string()));
        buttons->button(QDialogButtonBox::Open)->click();
    });
    poll.start();
    choose->click();
    EXPECT_TRUE(answered);
}

// Whether the window manager stacks `upper` above `lower`.
bool above(WId upper, WId lower) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    xprop.waitForFinished();
    const QString line = QString::fromUtf8(xprop.readAllStandardOutput());
    std::vector<WId> order;  // bottom to top
    for (const QString& word : line.section(QLatin1Char('#'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts))
        order.push_back(word.trimmed().toULongLong(nullptr, 16));
    const auto u = std::find(order.begin(), order.end(), upper);
    const auto l = std::find(order.begin(), order.end(), lower);
    return u != order.end() && l != order.end() && u > l;
}

// Framed as the window system tells it: Qt keeps a copy of the frame that can be stale, or that of a window not
// yet sized.
bool framed(const QWidget& window) { return !WindowPlacement::frameOf(window).isNull(); }

std::string text(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

struct Smoke : ::testing::Test {
    test::TemporaryFolder home;
    std::filesystem::path source = home / "Documents";
    std::filesystem::path destination = home / "Backup";
    AppFolders folders{home / "data/kelto-sync", home / "state/kelto-sync/logs", home / "run"};
    QSettings defaults{QString::fromStdString((home / "config/Kelto/Kelto Sync.conf").string()), QSettings::IniFormat};
    RecordingNotifications notifications;
    test::FakeSystemEvents systemEvents;
    test::FakeVolumeEvents volumeEvents;
    Smoke() {
        for (const auto& [name, folder] : std::vector<std::pair<const char*, std::string>>{
                 {"HOME", ""}, {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
                 {"XDG_STATE_HOME", "state"}, {"XDG_CACHE_HOME", "cache"}})
            qputenv(name, QByteArray::fromStdString((home / folder).string()));
        std::filesystem::create_directories(source / "Letters");
        std::filesystem::create_directories(destination);
        std::ofstream(source / "notes.txt") << "first notes\n";
        std::ofstream(source / "Letters/april.txt") << "dear reader\n";
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }
    // A first launch: the checklist comes up over the main window and is set aside with "Set up later".
    KeltoSyncApp& launch() {
        KeltoSyncApp& started = make();
        EXPECT_NE(started.runtime(), nullptr) << started.startupError().toStdString();
        started.start();
        EXPECT_TRUE(QTest::qWaitFor([] { return shown<PermissionChecklistView>() != nullptr; }, patience));
        EXPECT_NE(started.mainWindow(), nullptr);
        if (auto* checklist = shown<PermissionChecklistView>()) checklist->laterButton()->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return started.setup().checklist() == nullptr; }, patience));
        return started;
    }
    KeltoSyncApp& make(const std::filesystem::path& bundle = KELTO_BUNDLE_DIR, const QString& warning = {}) {
        return app.emplace(KeltoSyncApp::Options{
            .bundleRoot = bundle,
            .folders = folders,
            .defaults = &defaults,
            .notifications = &notifications,
            .systemEvents = &systemEvents,
            .volumeEvents = &volumeEvents,
            .launchedAsLoginItem = false,
            .startupWarning = warning,
        });
    }
    std::optional<KeltoSyncApp> app;  // last: gone before what it uses
};
using Entry = Smoke;

// The main thread of `pid` waits in poll or ppoll: its event loop runs and
// has handled what was posted before it started.
bool waitsInEventLoop(qint64 pid) {
    std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
    long number = -1;
    return (syscall >> number) && (number == 7 || number == 271);
}

std::set<std::filesystem::path> everythingUnder(const std::filesystem::path& folder) {
    std::set<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) found.insert(entry.path());
    return found;
}

// Whether the main window of a started program is on screen: Qt keeps a hidden 1x1 helper window with the
// application's name, so the name alone can find the wrong one.
bool mainWindowShown() {
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    tree.waitForFinished();
    for (const QString& line : QString::fromUtf8(tree.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (!line.contains(QStringLiteral("\"Kelto Sync\": (\"kelto-sync\""))) continue;
        QProcess info;
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), line.trimmed().section(QLatin1Char(' '), 0, 0)});
        info.waitForFinished();
        if (info.exitCode() == 0 && info.readAllStandardOutput().contains("Map State: IsViewable")) return true;
    }
    return false;
}

// The real executable in the smoke fixture's home, onboarding done.
struct Launches : Smoke {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> started;
    Launches() {
        std::filesystem::create_directories(home / "run");
        std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString((home / "run").string()));
        defaults.setValue(SyncSetup::onboardingDone, true);
        defaults.sync();
    }
    // Stops what is still running as the desktop would at logout.
    ~Launches() override {
        for (auto& process : started) {
            if (process->state() == QProcess::NotRunning) continue;
            process->terminate();
            if (!process->waitForFinished(patience)) process->kill();
            EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
        }
    }
    QProcess& start(const QStringList& arguments = {}) {
        auto& process = started.emplace_back(std::make_unique<QProcess>());
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral(KELTO_SYNC_EXECUTABLE), arguments);
        EXPECT_TRUE(process->waitForStarted());
        return *process;
    }
    // Its event loop runs, so what the launch decided is done.
    static bool settled(QProcess& process) {
        return QTest::qWaitFor(
            [&] { return process.state() == QProcess::Running && waitsInEventLoop(process.processId()); },
            patience);
    }
    static bool exitsCleanly(QProcess& process) {
        return (process.state() == QProcess::NotRunning || process.waitForFinished(patience)) &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
};

}  // namespace

TEST_F(Smoke, aFirstJobIsMadeRunAndTheApplicationQuits) {
    KeltoSyncApp& app = launch();
    ASSERT_FALSE(HasFailure());
    EXPECT_TRUE(defaults.value(SyncSetup::onboardingDone).toBool());
    // The kit and permission texts speak the application's languages: Vietnamese, not offered, reads English.
    const QLocale vietnamese(QLocale::Vietnamese, QLocale::Vietnam);
    EXPECT_EQ(FenraMacStrings::text(QStringLiteral("Search settings…"), vietnamese),
              QStringLiteral("Search settings…"));
    EXPECT_EQ(PermissionStrings({}, PermissionStrings::declaredHostLanguages(), {"vi_VN.UTF-8"}).language(), "en");
    auto* jobs = app.mainWindow()->findChild<JobListView*>();
    ASSERT_NE(jobs, nullptr);
    QTest::mouseClick(jobs->findChild<QPushButton*>(QStringLiteral("newJob")), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return jobs->newJobSheet() && jobs->newJobSheet()->isVisible(); }, patience));
    auto* editor = jobs->newJobSheet()->findChild<JobDetailView*>();
    ASSERT_NE(editor, nullptr);
    editor->nameField()->selectAll();
    QTest::keyClicks(editor->nameField(), QStringLiteral("Documents backup"));
    chooseFolder(editor->foldersSection()->sideRow(FoldersSection::Side::source)->chooseButton(), source);
    chooseFolder(editor->foldersSection()->sideRow(FoldersSection::Side::destination)->chooseButton(), destination);
    // Create once the validator has answered for both folders.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return editor->draft().source.path == source.string() &&
                   editor->draft().destination.path == destination.string() && !editor->isValidating() &&
                   editor->primaryButton()->isEnabled();
        },
        patience))
        << editor->draft().source.path << " / " << editor->draft().destination.path;
    QTest::mouseClick(editor->primaryButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return (!jobs->newJobSheet() || !jobs->newJobSheet()->isVisible()) && jobs->editor() != nullptr; },
        patience));
    const std::vector<SyncJob> stored = JobStore(folders.jobsFile()).load();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].name + stored[0].source.path + stored[0].destination.path,
              "Documents backup" + source.string() + destination.string());
    EXPECT_EQ(jobs->selection(), stored[0].id);
    // "Sync now" on the new job's overview; the bundled rsync copies.
    auto* detail = qobject_cast<JobDetailView*>(jobs->editor());
    auto* syncNow = detail->overview()->findChild<QPushButton*>(QStringLiteral("syncNow"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return syncNow->isVisible() && syncNow->isEnabled(); }, patience));
    QTest::mouseClick(syncNow, Qt::LeftButton);
    const RunHistoryStore history(folders.historyFolder(), folders.logs);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !history.records(stored[0].id).empty(); }, patience));
    EXPECT_EQ(history.records(stored[0].id).front().outcome.kind, RunOutcome::Case::success);
    std::ifstream copied(destination / "Letters/april.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(copied), {}), "dear reader\n");
    EXPECT_TRUE(std::filesystem::is_regular_file(destination / "notes.txt"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.runtime()->model().statuses().empty(); }, patience));
    // With the main window closed, the tray's "Open Kelto Sync…" brings it back and the popup makes way for it.
    app.mainWindow()->close();
    EXPECT_EQ(app.mainWindow(), nullptr) << "gone from the moment it closes";
    app.tray().togglePopup();
    QPointer<QWidget> popup = app.tray().popup();
    ASSERT_TRUE(popup);
    popup->findChild<MenuBarContent*>()->openButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return app.mainWindow() != nullptr && app.mainWindow()->isVisible(); }, patience));
    EXPECT_TRUE(QTest::qWaitFor([&] { return popup.isNull(); }, patience));
    // The window menu's Quit ends the event loop with status 0.
    QAction* quit = nullptr;
    for (QAction* action : app.mainWindow()->findChild<QMenuBar*>()->findChildren<QAction*>())
        if (action->shortcut() == QKeySequence(QKeySequence::Quit)) quit = action;
    ASSERT_NE(quit, nullptr);
    QTimer::singleShot(0, quit, &QAction::trigger);
    QTimer::singleShot(patience, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
}

// Clicked with the main window closed; the sheet centred on the window, both in the free area; Cancel withdraws it.
TEST_F(Smoke, theReviewOpensFromItsNotificationAboveItsWindow) {
    std::filesystem::create_directories(destination / "Old");
    for (int i = 0; i < 80; ++i) std::ofstream(destination / "Old" / ("old-" + std::to_string(i) + ".txt")) << i;
    SyncJob job = SyncJob::newJob("Letters");
    job.mode = SyncMode::mirror;
    job.source = VolumeInspector::endpoint(source);
    job.destination = VolumeInspector::endpoint(destination);
    std::filesystem::create_directories(folders.jobsFile().parent_path());
    test::saveJobs(JobStore(folders.jobsFile()), {job});
    KeltoSyncApp& app = launch();
    ASSERT_FALSE(HasFailure());
    app.mainWindow()->close();
    app.runtime()->model().runNow(job.id);
    const auto reviewPosted = [&] {
        return std::any_of(notifications.posted.begin(), notifications.posted.end(), [](const NotificationRequest& r) {
            return r.identifier.startsWith(QStringLiteral("review-"));
        });
    };
    ASSERT_TRUE(QTest::qWaitFor(reviewPosted, patience));
    NotificationRouter::shared().handle(QStringLiteral("default"), job.id);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown<PreviewSheet>() != nullptr; }, patience));
    PreviewSheet* sheet = shown<PreviewSheet>();
    QWidget* window = app.mainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(sheet->isReview());
    ASSERT_TRUE(QTest::qWaitFor([&] { return framed(*sheet) && framed(*window); }, patience));
    EXPECT_TRUE(QTest::qWaitFor([&] { return above(sheet->winId(), window->winId()); }, patience))
        << "the sheet is stacked below its window";
    const QRect free = window->screen()->availableGeometry();
    const auto settled = [&] {
        const QRect outer = WindowPlacement::outerOf(*window);
        const QRect sheetOuter = WindowPlacement::outerOf(*sheet);
        return free.contains(outer) && free.contains(sheetOuter) &&
               (sheetOuter.center() - outer.center()).manhattanLength() <= 4;
    };
    EXPECT_TRUE(QTest::qWaitFor(settled, patience))
        << "window " << text(WindowPlacement::outerOf(*window)) << ", sheet " << text(WindowPlacement::outerOf(*sheet))
        << ": each within the free area, the sheet centred on its window";
    EXPECT_TRUE(notifications.removed.empty());
    sheet->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return app.runtime()->model().statuses().empty(); }, patience));
    EXPECT_EQ(notifications.removed, std::vector<QString>{"review-" + QString::fromStdString(job.id.string())});
}

// Without a runtime the warning follows the startup error and the updater never starts.
TEST_F(Entry, aStartupWarningIsShownWithTheModelsErrorOrTheStartupError) {
    std::filesystem::create_directories(folders.support);
    std::ofstream(folders.jobsFile()) << R"({"version":2,"jobs":[]})";
    const QString warning = QStringLiteral("Kelto Sync runs without its check for a second instance: reasons.");
    const std::filesystem::path empty = home / "Empty.app";
    std::filesystem::create_directories(empty / "Contents");
    for (const std::filesystem::path& bundle : {std::filesystem::path(KELTO_BUNDLE_DIR), empty}) {
        KeltoSyncApp& app = make(bundle, warning);
        ASSERT_EQ(app.runtime() != nullptr, bundle != empty) << app.startupError().toStdString();
        if (app.runtime() != nullptr) {
            EXPECT_EQ(app.runtime()->model().errorMessage(),
                      std::string(JobStoreError::unsupportedVersion(2).what()) + "\n\n" + warning.toStdString());
            continue;
        }
        EXPECT_TRUE(app.startupError().endsWith(QStringLiteral("\n\n") + warning)) << app.startupError().toStdString();
        EXPECT_NE(app.startupError(), QStringLiteral("\n\n") + warning);
        app.start();
        EXPECT_FALSE(app.updater().started());
    }
    // Without a runtime the window menu's Settings is off.
    QWidget window;
    const WindowMenu::Made menu =
        WindowMenu::make(window, SyncStrings::application(), QLocale(QLocale::English), false, [] {}, [] {});
    EXPECT_FALSE(menu.settings->isEnabled());
}

// The title bar's title is bold, beside an icon and three buttons about as wide as the bar is high; past the screen's
// width the bar shortens the title in its middle and the message leads with the whole of it.
TEST(Alerts, TheMessageKeepsToOneLineAndTheTitleBarHasRoomForTheTitleUpToTheScreen) {
    const QFont kept = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    auto* alert = new AlertBox;
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setTitle(QStringLiteral("Sync skipped"));
    alert->present();
    alert->setWindowTitle(QStringLiteral("Photos"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return framed(*alert); }, patience));
    for (const char* reason : {"Device not connected", "Running on battery"}) {
        alert->setMessage(QString::fromUtf8(reason));
        const auto* label = alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
        ASSERT_TRUE(QTest::qWaitFor([&] { return label->isVisible() && alert->size() == alert->minimumSize(); },
                                    patience));
        QCoreApplication::sendPostedEvents(alert, QEvent::LayoutRequest);
        EXPECT_GE(label->width(), QFontMetricsF(label->font()).horizontalAdvance(label->text())) << reason;
    }
    const QString name = QStringLiteral("Photos to the backup disk of the household");
    alert->setWindowTitle(name);
    QFont bold = alert->font();
    bold.setBold(true);
    const int bar = alert->geometry().y() - alert->frameGeometry().y();
    const int needed = QFontMetrics(bold).horizontalAdvance(name) + 5 * bar;
    EXPECT_TRUE(QTest::qWaitFor([&] { return alert->width() >= needed; }, patience)) << alert->width();
    alert->setWindowTitle(name.repeated(6));
    // The box may pass through a wider size while Qt and the window manager settle it; it must end within.
    EXPECT_TRUE(QTest::qWaitFor([&] { return alert->width() <= alert->screen()->availableGeometry().width(); }, patience))
        << alert->width();
    EXPECT_TRUE(alert->windowHandle()->title().contains(QChar(0x2026))) << alert->windowHandle()->title().toStdString();
    EXPECT_TRUE(alert->informativeText().startsWith(name.repeated(6)));
    alert->close();
    QApplication::setFont(kept);
}

TEST_F(Launches, aLoginItemAfterOnboardingShowsNoWindowUntilLaunchedAgain) {
    QProcess& first = start({QStringLiteral("--login-item")});
    ASSERT_TRUE(settled(first)) << first.readAllStandardError().toStdString();
    EXPECT_FALSE(mainWindowShown());
    QProcess& second = start();
    EXPECT_TRUE(exitsCleanly(second)) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(QTest::qWaitFor(mainWindowShown, patience));
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(Launches, twoAtOnceLeaveOne) {
    QProcess& one = start();
    QProcess& other = start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return one.state() == QProcess::NotRunning || other.state() == QProcess::NotRunning; }, patience));
    QProcess& ended = one.state() == QProcess::NotRunning ? one : other;
    QProcess& left = &ended == &one ? other : one;
    EXPECT_TRUE(exitsCleanly(ended)) << ended.readAllStandardError().toStdString();
    ASSERT_TRUE(settled(left));
    EXPECT_TRUE(QTest::qWaitFor(mainWindowShown, patience));
}

// Exactly "1" asks for it; it writes nothing and starts nothing, yet its event loop runs.
TEST_F(Launches, aRenderTestRunIsExactlyOneAndWritesNothingAndStartsNothing) {
    for (const QString& value : {QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1 "), QString(),
                                 QStringLiteral("true")}) {
        QProcessEnvironment asked;
        asked.insert(AppEntry::renderTestsVariable, value);
        EXPECT_EQ(AppEntry::isRenderTestRun(asked), value == QStringLiteral("1")) << value.toStdString();
    }
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(AppEntry::renderTestsVariable, QStringLiteral("1"));
    const auto before = everythingUnder(home.path());
    QProcess& program = start();
    ASSERT_TRUE(settled(program)) << program.readAllStandardError().toStdString();
    EXPECT_EQ(everythingUnder(home.path()), before);  // no jobs file, folders, lock, socket or settings
    program.kill();
    program.waitForFinished();
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}
