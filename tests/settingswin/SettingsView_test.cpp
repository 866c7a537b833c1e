#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include "FenraMac/SettingsSearchField.h"
#include "FenraMac/SettingsShell.h"
#include "FenraMac/SettingsWindowConfigurator.h"
#include "FenraSettings/SettingsRow.h"
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

#include <array>
#include <atomic>
#include <future>

namespace kelto {
namespace {

struct RecordingFeed : UpdateFeed {
    using UpdateFeed::UpdateFeed;
    void setAutomaticallyChecksForUpdates(bool on) override {
        automaticWrites.push_back(on);
        UpdateFeed::setAutomaticallyChecksForUpdates(on);
    }
    void startUpdater() override { ++starts, UpdateFeed::startUpdater(); }
    std::vector<bool> automaticWrites;
    int starts = 0;
};

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Settings, autostart entries and user folders in a temporary home.
struct SettingsFixture : testing::Test {
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
    test::ScopedEnvironment environment;
    ManualClock clock{Date{700'000'000}};
    std::vector<UpdateCheckResult> presented;
};

// Probes that answer only when the test releases them; the n-th started takes the n-th answer.
struct HeldProbes {
    std::array<std::promise<PermissionStatus>, 2> answers;
    std::array<std::shared_future<PermissionStatus>, 2> futures{answers[0].get_future(), answers[1].get_future()};
    std::atomic<std::size_t> started = 0;
    ~HeldProbes() {  // unanswered probes would hold their threads
        for (auto& answer : answers) try { answer.set_value(PermissionStatus::unverifiable); } catch (const std::future_error&) {}
    }
    std::function<PermissionStatus()> probe() {
        return [this] { return futures.at(started++).get(); };
    }
    bool waitStarted(std::size_t count) const { return QTest::qWaitFor([&] { return started >= count; }); }
};

struct SettingsViewTest : SettingsFixture {
    SettingsViewActions actions(std::function<PermissionStatus()> probe = [] { return PermissionStatus::granted; }) {
        SettingsViewActions made;
        made.presentSetup = [this](const std::optional<QString>& item) { setups.push_back(item); };
        made.requestAuthorization = [this](std::function<void(bool)> done) { ++authorisations, done(false); };
        made.probeFullDiskAccess = std::move(probe);
        made.bundle = {QStringLiteral("1.4"), QStringLiteral("57"), {}};
        made.licensesFolder = home.path() + QStringLiteral("/Licenses");
        return made;
    }
    std::unique_ptr<SettingsView> makeView(SettingsViewActions made) {
        auto view = std::make_unique<SettingsView>(*updater, SyncStrings::application(), std::move(made));
        view->resize(780, 600);
        view->show();
        QCoreApplication::processEvents();  // the activation that showing brings
        return view;
    }
    template <class T>
    static T* find(const QWidget& view, const char* name) {
        auto* found = view.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static QString status(const QWidget& view) { return find<PermissionStatusLabel>(view, "fullDiskAccessStatus")->title(); }
    std::unique_ptr<Updater> updater = makeUpdater();
    std::vector<std::optional<QString>> setups;
    int authorisations = 0;
};

TEST_F(SettingsViewTest, LoginAndNotificationSwitches) {
    auto view = makeView(actions());
    auto* login = find<QCheckBox>(*view, "openAtLogin");
    auto* error = find<QLabel>(*view, "loginError");
    const QString folder = config() + QStringLiteral("/autostart"), entry = folder + QStringLiteral("/kelto-sync.desktop");
    const auto click = [&](bool on) {
        login->click();
        EXPECT_EQ(login->isChecked(), on);
    };
    EXPECT_FALSE(login->isChecked());
    click(true);
    EXPECT_TRUE(QFile::exists(entry));
    click(false);
    EXPECT_FALSE(QFile::exists(entry));
    QDir().mkpath(folder);
    ASSERT_TRUE(writeFile(entry, "[Desktop Entry]\nType=Application\nName=Kelto Sync\nHidden=true\nExec=" +
                                     QCoreApplication::applicationFilePath().toUtf8() + " --login-item\n"));
    view->refresh();
    EXPECT_FALSE(login->isChecked()) << "a hidden entry is off";
    click(true);
    click(false);
    QDir(folder).removeRecursively();
    ASSERT_TRUE(writeFile(folder, {}));
    click(false);
    EXPECT_TRUE(!error->isHidden() && error->text().contains("autostart")) << error->text().toStdString();
    view->refresh();
    EXPECT_FALSE(error->isHidden()) << "a refresh keeps the line";
    QFile::remove(folder);
    click(true);
    EXPECT_TRUE(error->isHidden());
    EXPECT_EQ(view->error(), std::nullopt);
    auto* enabled = find<QCheckBox>(*view, "notificationsEnabled");
    auto* success = find<QCheckBox>(*view, "notifySuccess");
    EXPECT_TRUE(enabled->isChecked() && !success->isChecked() && success->isEnabled());
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
    QSettings().setValue(SettingsView::notificationsKey, 0);  // not a Boolean: posts, so shown on
    EXPECT_TRUE(find<QCheckBox>(*makeView(actions()), "notificationsEnabled")->isChecked());
}

// Overlapping probes: the older answer, come last, is dropped. Each answer remakes the row, which shows.
TEST_F(SettingsViewTest, PermissionsPaneShowsTheProbeAndNoGrantButton) {
    HeldProbes probes;
    auto view = makeView(actions(probes.probe()));
    QSignalSpy probed(view.get(), &SettingsView::fullDiskAccessProbed);
    view->selection().set(QStringLiteral("permissions"));
    EXPECT_EQ(status(*view), "Checking…");
    for (QPushButton* button : view->shell()->detail()->findChildren<QPushButton*>())
        EXPECT_NE(button->text(), "Grant Full Disk Access") << "Linux has no grant to open";
    ASSERT_TRUE(probes.waitStarted(1));
    view->refresh();
    ASSERT_TRUE(probes.waitStarted(2));
    probes.answers[1].set_value(PermissionStatus::granted);
    ASSERT_TRUE(probed.wait());
    EXPECT_EQ(find<SettingsRow>(*view, "fullDiskAccess")->title(), "Full Disk Access verified");
    EXPECT_EQ(status(*view), "Allowed");
    probes.answers[0].set_value(PermissionStatus::missing);
    ASSERT_TRUE(probed.wait());
    EXPECT_EQ(view->fullDiskAccess(), PermissionStatus::granted);
    find<QPushButton>(*view, "setupChecklist")->click();
    EXPECT_EQ(setups, (std::vector<std::optional<QString>>{std::nullopt}));
    for (const auto& [answer, title] : {std::pair{PermissionStatus::missing, "Not allowed"},
                                        std::pair{PermissionStatus::unverifiable, "Can't verify"}}) {
        auto other = makeView(actions([answer = answer] { return answer; }));
        QSignalSpy answered(other.get(), &SettingsView::fullDiskAccessProbed);
        other->selection().set(QStringLiteral("permissions"));
        ASSERT_TRUE(answered.wait());
        EXPECT_EQ(status(*other), title);
        WidgetRender::settle(*other);
        const auto* row = find<SettingsRow>(*other, "fullDiskAccess");
        EXPECT_EQ(row->title(), "Full Disk Access not verified");
        EXPECT_TRUE(row->isVisible() && !row->geometry().isEmpty());
    }
}

TEST_F(SettingsViewTest, VersionLinesWithAndWithoutInfoAndTheLicencesOpenAgainAfterClosing) {
    const QString ini = home.path() + QStringLiteral("/Info.ini");
    ASSERT_TRUE(writeFile(ini, "[Bundle]\nversion=2.1\nbuild=300\n[Updates]\nfeed=file:///feed.json\n"));
    EXPECT_EQ(BundleInfo::read(ini).updateFeedURL, "file:///feed.json");
    for (const auto& [bundle, version] : {std::pair{BundleInfo::read(ini), "2.1 (300)"},
                                          std::pair{BundleInfo::read(home.path() + "/none.ini"), " ()"}}) {
        SettingsViewActions made = actions();
        made.bundle = bundle;
        auto view = makeView(std::move(made));
        EXPECT_EQ(find<SettingsRow>(*view, "currentVersion")->title(), QStringLiteral("Current version ") + version);
        EXPECT_EQ(view->versionLine(), QStringLiteral("Version ") + version);
    }
    auto view = makeView(actions());
    view->selection().set(QStringLiteral("about"));
    for (int round = 0; round < 2; ++round) {
        find<QPushButton>(*view, "showLicenses")->click();
        ASSERT_NE(view->licensesView(), nullptr);
        view->licensesView()->closeButton()->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(view->licensesView(), nullptr);
    }
}

TEST_F(SettingsViewTest, ControllerMakesOneWindowCentredOrWhereItWasSavedAndCtrlWClosesIt) {
    int presents = 0;
    auto controller = std::make_unique<SyncSettingsWindowController>(
        *updater, SyncStrings::application(), actions(),
        [&](QWidget& window) { ++presents, SyncSettingsWindowController::presentWindow(window); });
    controller->show();
    QWidget* window = controller->window();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - available.center()).manhattanLength(), 2);
    controller->view()->selection().set(QStringLiteral("about"));
    window->move(available.topLeft() + QPoint(200, 150));
    window->close();
    controller->show();
    EXPECT_EQ(controller->window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(presents, 2);
    EXPECT_EQ(controller->view()->shell()->resolvedSelection(), "about");
    // Ctrl+W closes it from the search field and from the panes.
    for (QWidget* focus : {static_cast<QWidget*>(window->findChild<SettingsSearchField*>()),
                           static_cast<QWidget*>(controller->view())}) {
        controller->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        focus->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_W, Qt::ControlModifier);
        EXPECT_FALSE(window->isVisible()) << focus->metaObject()->className();
    }
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

// The version title stays on one line; texts stand 4.5:1 from what is behind them; the search field sits under the
// title bar; section headers stand apart; every colour follows a live switch.
TEST_F(SettingsViewTest, PanesFillTheDetailColumnAndReadInBothLooks) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        QApplication::setPalette(look.palette);
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
        }
        const QLabel* title = find<SettingsRow>(*view, "currentVersion")->findChild<QLabel*>();
        EXPECT_LT(title->height(), 2 * title->fontMetrics().lineSpacing()) << "one line";
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
    EXPECT_EQ(WidgetRender::lookSwitchDifferences([&]() -> std::unique_ptr<QWidget> { return makeView(actions()); })
                  .join(u'\n').toStdString(), "") << "a live switch of the look";
}

struct UpdaterTest : SettingsFixture {
    // A file:// feed with the given content, or a missing file.
    QString feedURL(const std::optional<QByteArray>& json) {
        const QString path = home.path() + QStringLiteral("/feed.json");
        QFile::remove(path);
        if (json) {
            EXPECT_TRUE(writeFile(path, *json));
        }
        return QUrl::fromLocalFile(path).toString();
    }
    UpdateCheckResult userCheck(const std::optional<QByteArray>& json) {
        presented.clear();
        RecordingFeed* feed = nullptr;
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

// Without a feed a check says so. Automatic checking is off at first and forwarded at each write.
TEST_F(UpdaterTest, StartsOnceAndNeverInRenderTestMode) {
    RecordingFeed* feed = nullptr;
    auto updater = makeUpdater({}, &feed);
    EXPECT_FALSE(updater->canCheckForUpdates());
    updater->controller().checkForUpdates();
    EXPECT_TRUE(presented.empty());
    updater->start();
    updater->start();
    EXPECT_EQ(feed->starts, 1);
    updater->controller().checkForUpdates();
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].kind, UpdateCheckResult::Kind::noFeed);
    for (const auto& [value, starts] : {std::pair{"1", 0}, std::pair{"1 ", 1}}) {
        environment.set("KELTO_SYNC_RENDER_TESTS", value);
        auto again = makeUpdater({}, &feed);
        again->start();
        EXPECT_EQ(feed->starts, starts) << value;
        EXPECT_EQ(again->canCheckForUpdates(), starts == 1) << value;
    }
    EXPECT_FALSE(updater->automaticallyChecksForUpdates());
    QSignalSpy changed(updater.get(), &Updater::automaticallyChecksForUpdatesChanged);
    updater->setAutomaticallyChecksForUpdates(true);
    updater->setAutomaticallyChecksForUpdates(true);
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(makeUpdater({}, &feed)->automaticallyChecksForUpdates(), true);
    EXPECT_EQ(static_cast<RecordingFeed&>(updater->controller()).automaticWrites, (std::vector<bool>{true, true}));
}

// Against 1.4 (57): a higher version, or a higher build of the same one, is available; a feed that cannot be
// read, lacks its version or links to a file fails with a reason.
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
        const UpdateCheckResult result = userCheck(json);
        EXPECT_EQ(result.kind, kind);
        EXPECT_EQ(result.error.isEmpty(), kind != Kind::failed);
    }
    const UpdateWindow window(userCheck(feeds[0].first));
    EXPECT_EQ(window.message(), "Kelto Sync 1.5 (60) is available.");
    EXPECT_EQ(window.linkText(), "https://example.org/k");
}
// A last check stamped a month ahead (a clock since corrected) holds nothing back.
TEST_F(UpdaterTest, AutomaticChecksRunDailyAndAreSilentUnlessAnUpdateExists) {
    for (const bool stampedAhead : {false, true}) {
        SCOPED_TRACE(stampedAhead);
        presented.clear();
        QSettings().setValue(QStringLiteral("updates.lastCheck"),
                             stampedAhead ? clock.now().sinceReference + 30 * UpdateFeed::checkInterval : 0.0);
        RecordingFeed* feed = nullptr;
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
}
struct LicensesViewTest : testing::Test {
    LicensesViewTest() { QDir().mkpath(folder); }
    void write(const QString& name, const QByteArray& bytes) { ASSERT_TRUE(writeFile(folder + u'/' + name, bytes)); }
    std::unique_ptr<LicensesView> shown(const QString& at) {
        auto view = std::make_unique<LicensesView>(SyncStrings::application(), at);
        view->show();
        return view;
    }
    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/Licenses");
};
// A line wider than the view scrolls rather than wraps. An upper-case suffix or a signature is no archive; the
// notice then says where the source is. Escape closes. Text that cannot be read shows the error, and no archive.
TEST_F(LicensesViewTest, ShowsTheLicenceAndTheArchiveOrTheError) {
    const QByteArray text = "GNU GENERAL PUBLIC LICENSE\nVersion 3 — “quoted”\n" + QByteArray(120, '=') + "\n";
    write(QStringLiteral("COPYING"), text);
    write(QStringLiteral("rsync-3.2.7.tar.gz"), "archive");
    auto view = shown(folder);
    EXPECT_EQ(view->textView()->toPlainText(), QString::fromUtf8(text));
    QApplication::processEvents();
    EXPECT_EQ(view->textView()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_GT(view->textView()->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->source(), folder + "/rsync-3.2.7.tar.gz");
    EXPECT_EQ(view->archiveLabel()->text(), "rsync-3.2.7.tar.gz");
    EXPECT_TRUE(view->revealButton()->isVisible());
    EXPECT_TRUE(view->notice().contains("included with Kelto Sync"));
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_FALSE(view->isVisible());
    QFile::remove(folder + QStringLiteral("/rsync-3.2.7.tar.gz"));
    write(QStringLiteral("rsync-3.2.7.TAR.GZ"), "archive");
    write(QStringLiteral("rsync.tar.gz.sig"), "signature");
    auto none = shown(folder);
    EXPECT_EQ(none->source(), std::nullopt);
    EXPECT_TRUE(none->archiveLabel()->isHidden() && none->revealButton()->isHidden());
    EXPECT_TRUE(none->notice().contains("rsync” source package")) << none->notice().toStdString();
    EXPECT_FALSE(none->notice().contains("included with Kelto Sync"));
    write(QStringLiteral("COPYING"), QByteArray("valid then \xC3\x28 broken"));
    write(QStringLiteral("rsync.tar.gz"), "archive");
    auto broken = shown(folder);
    EXPECT_EQ(broken->license(), "The file “" + folder + "/COPYING” isn’t valid UTF-8 text.");
    EXPECT_EQ(broken->source(), std::nullopt);
    EXPECT_TRUE(broken->revealButton()->isHidden());
    auto missing = shown(root.path() + QStringLiteral("/nowhere"));
    EXPECT_TRUE(missing->license().startsWith("The file “" + root.path() + "/nowhere/COPYING” couldn’t be read: "))
        << missing->license().toStdString();
}
}  // namespace
}  // namespace kelto