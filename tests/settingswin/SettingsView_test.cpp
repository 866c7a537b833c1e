#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QUrl>

#include "FenraMac/SettingsSearchField.h"
#include "FenraMac/SettingsShell.h"
#include "FenraMac/SettingsSidebarList.h"
#include "FenraMac/SettingsWindowConfigurator.h"
#include "FenraSettings/SettingsRow.h"
#include "FenraSettings/SettingsSearch.h"
#include "KeltoPermissions/PermissionStatusLabel.h"
#include "Kelto_Sync/Settings/LicensesView.h"
#include "Kelto_Sync/Settings/SettingsView.h"
#include "Kelto_Sync/Settings/SyncSettingsWindowController.h"
#include "Kelto_Sync/Settings/UpdateFeed.h"
#include "Kelto_Sync/Settings/UpdateWindow.h"
#include "Kelto_Sync/Settings/Updater.h"
#include "SyncModel/Support/Clock.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/support/widgets/TextContrast.h"
#include "tests/support/widgets/WidgetRender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

namespace kelto::test {

// A feed that records what the updater asks of it.
class RecordingFeed : public UpdateFeed {
public:
    using UpdateFeed::UpdateFeed;
    void setAutomaticallyChecksForUpdates(bool on) override {
        automaticWrites.push_back(on);
        UpdateFeed::setAutomaticallyChecksForUpdates(on);
    }
    void startUpdater() override {
        ++starts;
        UpdateFeed::startUpdater();
    }
    std::vector<bool> automaticWrites;
    int starts = 0;
};

// Settings, autostart entries and user folders in a temporary home.
class SettingsFixture : public testing::Test {
protected:
    SettingsFixture() {
        QCoreApplication::setOrganizationName(QStringLiteral("KeltoSettingsTests"));
        QCoreApplication::setApplicationName(QStringLiteral("Kelto Sync"));
        environment.set("HOME", home.path().toUtf8());
        environment.set("XDG_CONFIG_HOME", config().toUtf8());
        environment.unset("KELTO_SYNC_RENDER_TESTS");
        QDir().mkpath(config());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config());
        QSettings().clear();
    }

    QString config() const { return home.path() + QStringLiteral("/config"); }

    std::unique_ptr<Updater> makeUpdater(const QString& feedURL = {}, RecordingFeed** feed = nullptr) {
        auto made = std::make_unique<RecordingFeed>(feedURL, QStringLiteral("1.4"), QStringLiteral("57"), clock);
        made->setPresent([this](const UpdateCheckResult& result) { presented.push_back(result); });
        if (feed != nullptr) *feed = made.get();
        return std::make_unique<Updater>(std::move(made));
    }

    QTemporaryDir home;
    ScopedEnvironment environment;
    ManualClock clock{Date{700'000'000}};
    std::vector<UpdateCheckResult> presented;
};

}  // namespace kelto::test

namespace kelto {
namespace {

// Writes `bytes` as the whole of the file at `path`.
bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Probes that answer only when the test releases them, in any order; the
// n-th probe started takes the n-th answer.
class HeldProbes {
public:
    ~HeldProbes() {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < answers_.size(); ++i) {
            if (!released_.contains(i)) answers_[i].set_value(PermissionStatus::unverifiable);
        }
    }
    std::function<PermissionStatus()> probe() {
        return [this] {
            std::unique_lock lock(mutex_);
            std::shared_future<PermissionStatus> answer = slot(started_++).get_future().share();
            lock.unlock();
            startedChanged_.notify_all();
            return answer.get();
        };
    }
    bool waitStarted(std::size_t count) {
        std::unique_lock lock(mutex_);
        return startedChanged_.wait_for(lock, std::chrono::seconds(10), [&] { return started_ >= count; });
    }
    void release(std::size_t index, PermissionStatus status) {
        std::lock_guard lock(mutex_);
        released_.insert(index);
        slot(index).set_value(status);
    }

private:
    std::promise<PermissionStatus>& slot(std::size_t index) {
        while (answers_.size() <= index) answers_.emplace_back();
        return answers_[index];
    }
    std::mutex mutex_;
    std::condition_variable startedChanged_;
    std::deque<std::promise<PermissionStatus>> answers_;
    std::set<std::size_t> released_;
    std::size_t started_ = 0;
};

class SettingsViewTest : public test::SettingsFixture {
protected:
    SettingsViewActions actions(std::function<PermissionStatus()> probe = [] { return PermissionStatus::granted; }) {
        SettingsViewActions made;
        made.presentSetup = [this](const std::optional<QString>& item) { setups.push_back(item); };
        made.requestAuthorization = [this](std::function<void(bool)> done) {
            ++authorisations;
            done(false);
        };
        made.probeFullDiskAccess = std::move(probe);
        made.bundle = {QStringLiteral("1.4"), QStringLiteral("57"), {}};
        made.licensesFolder = home.path() + QStringLiteral("/Licenses");
        return made;
    }
    std::unique_ptr<SettingsView> makeView(SettingsViewActions made) {
        auto view = std::make_unique<SettingsView>(*updater, SyncStrings::application(), std::move(made));
        view->resize(780, 600);
        view->show();
        // Let the activation that showing brings pass before the test acts.
        QCoreApplication::processEvents();
        return view;
    }
    template <class T>
    static T* find(const QWidget& view, const char* name) {
        auto* found = view.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static QStringList shownPanes(SettingsShell& shell) {
        QStringList ids;
        for (const SettingsPane& pane : SettingsSearch::filter(shell.panes(), shell.query().get())) ids << pane.id;
        return ids;
    }

    std::unique_ptr<Updater> updater = makeUpdater();
    std::vector<std::optional<QString>> setups;
    int authorisations = 0;
};

TEST_F(SettingsViewTest, SearchFindsPanesThroughTheirTerms) {
    auto view = makeView(actions());
    EXPECT_EQ(view->shell()->resolvedSelection(), "general");
    view->shell()->query().set(QStringLiteral("licen"));
    EXPECT_EQ(shownPanes(*view->shell()), QStringList{"about"});
    view->shell()->query().set(QStringLiteral("login"));
    EXPECT_EQ(shownPanes(*view->shell()), QStringList{"general"});
}

TEST_F(SettingsViewTest, NotificationSwitches) {
    auto view = makeView(actions());
    auto* enabled = find<QCheckBox>(*view, "notificationsEnabled");
    auto* success = find<QCheckBox>(*view, "notifySuccess");
    EXPECT_TRUE(enabled->isChecked());
    EXPECT_FALSE(success->isChecked());
    EXPECT_TRUE(success->isEnabled());

    success->click();
    enabled->click();
    EXPECT_FALSE(QSettings().value(SettingsView::notificationsKey).toBool());
    EXPECT_FALSE(success->isEnabled());
    EXPECT_TRUE(success->isChecked()) << "disabled, it keeps its value";
    EXPECT_TRUE(QSettings().value(SettingsView::successKey).toBool());
    EXPECT_EQ(authorisations, 0);

    enabled->click();
    EXPECT_EQ(authorisations, 1) << "switching on asks again";
    EXPECT_TRUE(success->isEnabled());
    EXPECT_TRUE(enabled->isChecked()) << "a refusal leaves the switch on";

    // A value that is not a Boolean posts, so the switch shows it on.
    QSettings().setValue(SettingsView::notificationsKey, 0);
    auto other = makeView(actions());
    EXPECT_TRUE(find<QCheckBox>(*other, "notificationsEnabled")->isChecked());
}

TEST_F(SettingsViewTest, VersionLinesWithAndWithoutInfo) {
    const QString ini = home.path() + QStringLiteral("/Info.ini");
    ASSERT_TRUE(writeFile(ini, "[Bundle]\nversion=2.1\nbuild=300\n[Updates]\nfeed=file:///feed.json\n"));
    const BundleInfo read = BundleInfo::read(ini);
    EXPECT_EQ(read.shortVersion + read.buildNumber + read.updateFeedURL, "2.1300file:///feed.json");
    for (const auto& [bundle, version] : {std::pair{BundleInfo{"1.4", "57", {}}, "1.4 (57)"},
                                          std::pair{BundleInfo::read(home.path() + "/none.ini"), " ()"}}) {
        SettingsViewActions made = actions();
        made.bundle = bundle;
        auto view = makeView(std::move(made));
        EXPECT_EQ(find<SettingsRow>(*view, "currentVersion")->title(), QStringLiteral("Current version ") + version);
        EXPECT_EQ(view->versionLine(), QStringLiteral("Version ") + version);
    }
}

TEST_F(SettingsViewTest, PermissionsPaneShowsTheProbeAndNoGrantButton) {
    HeldProbes probes;
    auto view = makeView(actions(probes.probe()));
    QSignalSpy probed(view.get(), &SettingsView::fullDiskAccessProbed);
    view->selection().set(QStringLiteral("permissions"));
    auto* row = find<SettingsRow>(*view, "fullDiskAccess");
    EXPECT_EQ(row->title(), "Full Disk Access not verified");
    EXPECT_EQ(find<PermissionStatusLabel>(*view, "fullDiskAccessStatus")->title(), "Checking…");
    for (QPushButton* button : view->shell()->detail()->findChildren<QPushButton*>()) {
        EXPECT_NE(button->text(), "Grant Full Disk Access") << "Linux has no grant to open";
    }

    ASSERT_TRUE(probes.waitStarted(1));
    view->refresh();  // a second probe overlaps the first
    ASSERT_TRUE(probes.waitStarted(2));
    probes.release(1, PermissionStatus::granted);
    ASSERT_TRUE(probed.wait());
    EXPECT_EQ(find<SettingsRow>(*view, "fullDiskAccess")->title(), "Full Disk Access verified");
    EXPECT_EQ(find<PermissionStatusLabel>(*view, "fullDiskAccessStatus")->title(), "Allowed");
    probes.release(0, PermissionStatus::missing);
    ASSERT_TRUE(probed.wait());
    EXPECT_EQ(view->fullDiskAccess(), PermissionStatus::granted) << "the older answer came last and is dropped";

    find<QPushButton>(*view, "setupChecklist")->click();
    ASSERT_EQ(setups.size(), 1u);
    EXPECT_EQ(setups[0], std::nullopt);
}

// The row is made anew once the probe answers, and shows.
TEST_F(SettingsViewTest, ProbeStatesReadAsTheirTitles) {
    for (const auto& [status, title] : {std::pair{PermissionStatus::missing, "Not allowed"},
                                        std::pair{PermissionStatus::unverifiable, "Can't verify"}}) {
        auto view = makeView(actions([status = status] { return status; }));
        QSignalSpy probed(view.get(), &SettingsView::fullDiskAccessProbed);
        view->selection().set(QStringLiteral("permissions"));
        ASSERT_TRUE(probed.wait());
        EXPECT_EQ(find<PermissionStatusLabel>(*view, "fullDiskAccessStatus")->title(), title);
        WidgetRender::settle(*view);
        const auto* row = find<SettingsRow>(*view, "fullDiskAccess");
        EXPECT_EQ(row->title(), "Full Disk Access not verified");
        EXPECT_TRUE(row->isVisible() && !row->geometry().isEmpty());
    }
}

TEST_F(SettingsViewTest, LoginSwitchRegistersUnregistersAndShowsFailures) {
    auto view = makeView(actions());
    auto* login = find<QCheckBox>(*view, "openAtLogin");
    auto* error = find<QLabel>(*view, "loginError");
    const QString entry = config() + QStringLiteral("/autostart/kelto-sync.desktop");
    EXPECT_FALSE(login->isChecked());

    login->click();
    EXPECT_TRUE(login->isChecked());
    EXPECT_TRUE(QFile::exists(entry));
    login->click();
    EXPECT_FALSE(login->isChecked());
    EXPECT_FALSE(QFile::exists(entry));

    QDir().mkpath(config() + QStringLiteral("/autostart"));
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nType=Application\nName=Kelto Sync\nHidden=true\nExec=" +
                                     QCoreApplication::applicationFilePath().toUtf8() + " --login-item\n"));
    view->refresh();
    EXPECT_FALSE(login->isChecked()) << "a hidden entry is off";
    login->click();
    EXPECT_TRUE(login->isChecked());
    login->click();

    QDir(config() + QStringLiteral("/autostart")).removeRecursively();
    ASSERT_TRUE(writeFile(config() + QStringLiteral("/autostart"), {}));
    login->click();
    EXPECT_FALSE(login->isChecked()) << "the switch keeps its place";
    EXPECT_FALSE(error->isHidden());
    EXPECT_TRUE(error->text().contains("autostart")) << error->text().toStdString();
    view->refresh();
    EXPECT_FALSE(error->isHidden()) << "a refresh keeps the line";

    QFile::remove(config() + QStringLiteral("/autostart"));
    login->click();
    EXPECT_TRUE(login->isChecked());
    EXPECT_TRUE(error->isHidden());
    EXPECT_EQ(view->error(), std::nullopt);
}

TEST_F(SettingsViewTest, ShowOpensTheLicencesAgainAfterClosing) {
    auto view = makeView(actions());
    view->selection().set(QStringLiteral("about"));
    auto* show = find<QPushButton>(*view, "showLicenses");
    show->click();
    ASSERT_NE(view->licensesView(), nullptr);
    view->licensesView()->closeButton()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(view->licensesView(), nullptr);
    show->click();
    EXPECT_NE(view->licensesView(), nullptr);
}

TEST_F(SettingsViewTest, ControllerMakesOneWindowCentredOrWhereItWasSaved) {
    int presents = 0;
    auto controller = std::make_unique<SyncSettingsWindowController>(
        *updater, SyncStrings::application(), actions(), [&](QWidget& window) {
            ++presents;
            SyncSettingsWindowController::presentWindow(window);
        });
    controller->show();
    QWidget* window = controller->window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Kelto Sync Settings");
    EXPECT_EQ(window->minimumSize(), QSize(680, 480));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(std::abs(window->geometry().center().x() - available.center().x()), 1);
    EXPECT_LE(std::abs(window->geometry().center().y() - available.center().y()), 1);

    controller->view()->selection().set(QStringLiteral("about"));
    window->move(available.topLeft() + QPoint(200, 150));
    window->close();
    EXPECT_FALSE(window->isVisible());
    controller->show();
    EXPECT_EQ(controller->window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(presents, 2);
    EXPECT_EQ(controller->view()->shell()->resolvedSelection(), "about");

    // A later run restores what this one saved, and does not centre it.
    QSettings().setValue(SettingsWindowConfigurator::geometryKey(SyncSettingsWindowController::autosaveName),
                         window->saveGeometry());
    const QPoint saved = window->pos();
    controller.reset();
    SyncSettingsWindowController again(*updater, SyncStrings::application(), actions(), [](QWidget&) {});
    again.show();
    // Offscreen windows come back offset by a frame that they do not have.
    EXPECT_LE((again.window()->pos() - saved).manhattanLength(), 4);
    EXPECT_GT(std::abs(again.window()->geometry().center().x() - available.center().x()), 100) << "not centred";
}

// Ctrl+W closes the settings window, from whatever has the focus; it comes
// back as it was.
TEST_F(SettingsViewTest, CtrlWClosesTheWindow) {
    SyncSettingsWindowController controller(*updater, SyncStrings::application(), actions());
    controller.show();
    QWidget* window = controller.window();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* search = window->findChild<SettingsSearchField*>();
    ASSERT_NE(search, nullptr);
    for (QWidget* focus : {search, static_cast<QWidget*>(controller.view())}) {
        controller.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        focus->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
        EXPECT_FALSE(window->isVisible()) << focus->metaObject()->className();
    }
}

// At the window's usual size, in both looks, each pane fills the detail
// column (so that titles such as the current version stay on one line) and
// its texts, subtitles included, stand 4.5:1 from what is behind them; the
// search field sits right under the title bar; each section's header
// stands apart from the rows of the one above.
TEST_F(SettingsViewTest, PanesFillTheDetailColumnAndReadInBothLooks) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        QApplication::setPalette(look.palette);  // as the desktop's appearance sets it
        auto view = makeView(actions());
        SettingsShell& shell = *view->shell();
        const QWidget* column = shell.splitter()->widget(1);
        EXPECT_LE(shell.searchField()->mapTo(&shell, QPoint(0, 0)).y(), 12);
        for (const char* pane : {"permissions", "about", "general"}) {
            SCOPED_TRACE(std::string(look.name) + " " + pane);
            view->selection().set(QString::fromLatin1(pane));
            QCoreApplication::processEvents();
            ASSERT_NE(shell.detail(), nullptr);
            EXPECT_EQ(shell.detail()->width(), column->width());
            EXPECT_GT(column->width(), 500);
            const auto findings = TextContrast::below(*view);
            EXPECT_TRUE(findings.empty()) << TextContrast::describe(findings).toStdString();
            if (pane == std::string("general")) {
                const QLabel* title = find<SettingsRow>(*view, "currentVersion")->findChild<QLabel*>();
                EXPECT_LT(title->height(), 2 * title->fontMetrics().lineSpacing()) << "one line";
            }
        }
        QWidget* general = shell.detail();
        const auto headers = general->findChildren<QLabel*>(QStringLiteral("sectionHeader"));
        ASSERT_EQ(headers.size(), 2);
        for (const QLabel* header : headers) {
            const int textTop = header->mapTo(general, header->contentsRect().topLeft()).y();
            int above = 0;
            for (const SettingsRow* row : general->findChildren<SettingsRow*>()) {
                const int bottom = row->mapTo(general, QPoint(0, row->height())).y();
                if (bottom <= textTop) above = std::max(above, bottom);
            }
            EXPECT_GE(textTop - above, 16) << header->text().toStdString();
        }
    }
    QApplication::setPalette(WidgetRender::lightPalette());
}

// The settings window through a switch of the desktop's look, on every
// pane: its colours are those it has when made in the new look.
TEST_F(SettingsViewTest, EveryColourFollowsALiveSwitchOfTheLook) {
    const auto differences = WidgetRender::lookSwitchDifferences([&]() -> std::unique_ptr<QWidget> {
        auto view = makeView(actions());
        QCoreApplication::processEvents();
        return view;
    });
    EXPECT_EQ(differences.join(u'\n').toStdString(), "");
}

class UpdaterTest : public test::SettingsFixture {
protected:
    // A file:// feed with the given content, or a missing file.
    QString feedURL(const std::optional<QByteArray>& json) {
        const QString path = home.path() + QStringLiteral("/feed.json");
        QFile::remove(path);
        if (json) {
            EXPECT_TRUE(writeFile(path, *json));
        }
        return QUrl::fromLocalFile(path).toString();
    }
    // Runs one user check and returns what it found.
    UpdateCheckResult userCheck(const std::optional<QByteArray>& json) {
        test::RecordingFeed* feed = nullptr;
        auto updater = makeUpdater(feedURL(json), &feed);
        updater->start();
        QSignalSpy checked(feed, &UpdateFeed::checked);
        updater->controller().checkForUpdates();
        EXPECT_FALSE(updater->canCheckForUpdates()) << "no second check while one runs";
        updater->controller().checkForUpdates();
        EXPECT_TRUE(checked.wait());
        EXPECT_EQ(checked.size(), 1);
        EXPECT_TRUE(updater->canCheckForUpdates());
        EXPECT_EQ(presented.size(), 1u);
        return presented.empty() ? UpdateCheckResult{} : presented.back();
    }
};

// No check before the start, which happens once, and never when the
// render-test variable is exactly "1"; without a feed a check says so.
TEST_F(UpdaterTest, StartsOnceAndNeverInRenderTestMode) {
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater({}, &feed);
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->controller().checkForUpdates();
    EXPECT_TRUE(presented.empty());
    updater->start();
    updater->start();
    EXPECT_EQ(feed->starts, 1);
    EXPECT_TRUE(updater->canCheckForUpdates());
    updater->controller().checkForUpdates();
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].kind, UpdateCheckResult::Kind::noFeed);
    EXPECT_EQ(UpdateWindow(presented[0]).message(),
              "No update feed is configured for this build, so Kelto Sync cannot tell whether a newer version exists.");

    for (const auto& [value, starts] : {std::pair{"1", 0}, std::pair{"1 ", 1}}) {
        environment.set("KELTO_SYNC_RENDER_TESTS", value);
        auto again = makeUpdater({}, &feed);
        again->start();
        EXPECT_EQ(feed->starts, starts) << value;
        EXPECT_EQ(again->canCheckForUpdates(), starts == 1) << value;
    }
}

TEST_F(UpdaterTest, AutomaticWritesAreForwardedEachTimeAndStored) {
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater({}, &feed);
    EXPECT_FALSE(updater->automaticallyChecksForUpdates()) << "off by default";
    QSignalSpy changed(updater.get(), &Updater::automaticallyChecksForUpdatesChanged);
    updater->setAutomaticallyChecksForUpdates(true);
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(feed->automaticWrites, (std::vector<bool>{true, true}));
    EXPECT_EQ(changed.size(), 1);
    EXPECT_TRUE(makeUpdater()->automaticallyChecksForUpdates());
}

// Against version 1.4 (57): a higher version, or a higher build of the same
// one, is available; the rest is up to date; a feed that cannot be read,
// lacks its version or links to a file fails with a reason.
TEST_F(UpdaterTest, FileFeedsNewerEqualMalformedAndMissing) {
    using Kind = UpdateCheckResult::Kind;
    const std::pair<std::optional<QByteArray>, Kind> feeds[] = {
        {R"({"version": "1.5", "build": "60", "url": "https://example.org/k"})", Kind::available},
        {R"({"version": "1.4", "build": 58, "url": "https://example.org/k"})", Kind::available},
        {R"({"version": "1.4", "build": "57", "url": "https://example.org/k"})", Kind::upToDate},
        {R"({"version": "1.3.9", "build": "99", "url": "x"})", Kind::upToDate},
        {"{\"version\": ", Kind::failed},
        {R"({"build": "60", "url": "x"})", Kind::failed},
        {R"(["1.5"])", Kind::failed},
        {R"({"version": "1.5", "url": "file:///etc/passwd"})", Kind::failed},
        {std::nullopt, Kind::failed},
    };
    for (const auto& [json, kind] : feeds) {
        SCOPED_TRACE(json.value_or("(missing)").toStdString());
        presented.clear();
        const UpdateCheckResult result = userCheck(json);
        EXPECT_EQ(result.kind, kind);
        EXPECT_EQ(result.error.isEmpty(), kind != Kind::failed);
    }
    presented.clear();
    const UpdateWindow window(userCheck(feeds[0].first));
    EXPECT_EQ(window.message(), "Kelto Sync 1.5 (60) is available.");
    EXPECT_EQ(window.linkText(), "https://example.org/k");
}

TEST_F(UpdaterTest, AutomaticChecksRunDailyAndAreSilentUnlessAnUpdateExists) {
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater(feedURL(QByteArray("not json")), &feed);
    QSignalSpy checked(feed, &UpdateFeed::checked);
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(checked.size(), 0) << "nothing before start";
    updater->start();
    ASSERT_TRUE(checked.wait());
    EXPECT_FALSE(checked.at(0).at(1).toBool());
    EXPECT_TRUE(presented.empty()) << "an automatic check keeps its errors to itself";

    clock.advance(UpdateFeed::checkInterval - 60);
    feed->checkIfDue();
    EXPECT_TRUE(updater->canCheckForUpdates()) << "not yet due";

    feedURL(QByteArray(R"({"version": "2.0", "build": "1", "url": "https://example.org/k"})"));
    clock.advance(60);
    feed->checkIfDue();
    ASSERT_TRUE(checked.wait());
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].kind, UpdateCheckResult::Kind::available);

    updater->setAutomaticallyChecksForUpdates(false);
    clock.advance(UpdateFeed::checkInterval * 2);
    feed->checkIfDue();
    EXPECT_EQ(checked.size(), 2) << "off means no automatic check";
}

TEST_F(UpdaterTest, ACheckStampedAheadOfTheClockDoesNotHoldBackAutomaticChecks) {
    // The clock ran a month ahead at the last check and was corrected since.
    QSettings().setValue(QStringLiteral("updates.lastCheck"),
                         clock.now().sinceReference + 30 * UpdateFeed::checkInterval);
    test::RecordingFeed* feed = nullptr;
    auto updater = makeUpdater(feedURL(QByteArray("not json")), &feed);
    QSignalSpy checked(feed, &UpdateFeed::checked);
    updater->setAutomaticallyChecksForUpdates(true);
    updater->start();
    EXPECT_TRUE(checked.wait());
}

class LicensesViewTest : public testing::Test {
protected:
    LicensesViewTest() { QDir().mkpath(folder); }
    void write(const QString& name, const QByteArray& bytes) {
        ASSERT_TRUE(writeFile(folder + u'/' + name, bytes));
    }
    std::unique_ptr<LicensesView> shown(const QString& at) {
        auto view = std::make_unique<LicensesView>(SyncStrings::application(), at);
        view->show();
        return view;
    }

    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/Licenses");
};

// The licence text as written and the archive to reveal; an upper-case
// suffix or a signature is no archive, and the notice then says where the
// source is instead. Escape closes the sheet.
TEST_F(LicensesViewTest, ShowsTheLicenceAndTheArchive) {
    write(QStringLiteral("COPYING"), "GNU GENERAL PUBLIC LICENSE\nVersion 3 — “quoted”\n");
    write(QStringLiteral("rsync-3.2.7.tar.gz"), "archive");
    auto view = shown(folder);
    EXPECT_EQ(view->license(), "GNU GENERAL PUBLIC LICENSE\nVersion 3 — “quoted”\n");
    EXPECT_EQ(view->textView()->toPlainText(), view->license());
    EXPECT_EQ(view->source(), folder + "/rsync-3.2.7.tar.gz");
    EXPECT_EQ(view->archiveLabel()->text(), "rsync-3.2.7.tar.gz");
    EXPECT_TRUE(view->revealButton()->isVisible());
    EXPECT_TRUE(view->notice().contains("included with Kelto Sync"));
    QSignalSpy rejected(view.get(), &QDialog::rejected);
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_EQ(rejected.size(), 1);
    EXPECT_FALSE(view->isVisible());

    QFile::remove(folder + QStringLiteral("/rsync-3.2.7.tar.gz"));
    write(QStringLiteral("rsync-3.2.7.TAR.GZ"), "archive");
    write(QStringLiteral("rsync.tar.gz.sig"), "signature");
    auto none = shown(folder);
    EXPECT_EQ(none->source(), std::nullopt);
    EXPECT_TRUE(none->archiveLabel()->isHidden());
    EXPECT_TRUE(none->revealButton()->isHidden());
    EXPECT_TRUE(none->notice().contains("rsync” source package")) << none->notice().toStdString();
    EXPECT_FALSE(none->notice().contains("included with Kelto Sync"));
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

using SettingsRenders = test::SettingsFixture;

// Renders of the licences sheet and the update windows; the settings panes
// are in the screenshots.
TEST_F(SettingsRenders, LicencesAndUpdateWindows) {
    const QString licenses = home.path() + QStringLiteral("/Licenses");
    QDir().mkpath(licenses);
    QFile::copy(QStringLiteral("/usr/share/common-licenses/GPL-3"), licenses + QStringLiteral("/COPYING"));
    QFile(licenses + QStringLiteral("/rsync-3.2.7.tar.gz")).open(QIODevice::WriteOnly);
    const auto inLook = [](QWidget& widget, WidgetRender::Look look) {
        look.palette = WidgetRender::withWindowButtons(look.palette);
        return WidgetRender::shownIn(widget, look);
    };
    EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("licenses"), [&](const WidgetRender::Look& look) {
        LicensesView sheet(SyncStrings::application(), licenses);
        return inLook(sheet, look);
    }));
    for (const auto& [name, result] :
         {std::pair{"no-feed", UpdateCheckResult::noFeed()},
          std::pair{"available", UpdateCheckResult::available("1.5", "60", "https://example.org/kelto-sync")},
          std::pair{"failed", UpdateCheckResult::failed("Host example.org not found")}}) {
        EXPECT_TRUE(WidgetRender::saveLooks(QStringLiteral("update-") + QString::fromLatin1(name),
                                            [&](const WidgetRender::Look& look) {
                                                UpdateWindow window(result);
                                                window.resize(window.sizeHint());
                                                return inLook(window, look);
                                            }));
    }
}

}  // namespace
}  // namespace kelto
