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
#include "tests/settingswin/SettingsFixture.h"
#include "tests/support/widgets/TextContrast.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSplitter>
#include <QTest>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <set>

namespace kelto {
namespace {

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
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Bundle]\nversion=2.1\nbuild=300\n[Updates]\nfeed=file:///feed.json\n");
    file.close();
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
    QFile hidden(entry);
    ASSERT_TRUE(hidden.open(QIODevice::WriteOnly));
    hidden.write("[Desktop Entry]\nType=Application\nName=Kelto Sync\nHidden=true\nExec=" +
                 QCoreApplication::applicationFilePath().toUtf8() + " --login-item\n");
    hidden.close();
    view->refresh();
    EXPECT_FALSE(login->isChecked()) << "a hidden entry is off";
    login->click();
    EXPECT_TRUE(login->isChecked());
    login->click();

    QDir(config() + QStringLiteral("/autostart")).removeRecursively();
    QFile blocker(config() + QStringLiteral("/autostart"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
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

}  // namespace
}  // namespace kelto
