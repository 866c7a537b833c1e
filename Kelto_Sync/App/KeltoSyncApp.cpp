#include "Kelto_Sync/App/KeltoSyncApp.h"

#include "KeltoPermissions/AppRelauncher.h"
#include "Kelto_Sync/App/WindowMenu.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "Kelto_Sync/Notifications/NotificationRouter.h"
#include "Kelto_Sync/SecondaryText.h"
#include "Kelto_Sync/Settings/BundleInfo.h"
#include "Kelto_Sync/Settings/UpdateFeed.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "Platform/Desktop/FreedesktopNotificationCenter.h"
#include "SyncEngine/RsyncLocatorError.h"
#include "SyncModel/Support/Clock.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace kelto {

namespace {

// The application's texts; the kit's and the permission texts, and the
// windows' dates and times, then speak only the languages these carry, so
// that no window mixes two.
SyncStrings hostStrings() {
    StringTable::setHostLanguages(SyncStrings::languages());
    QLocale::setDefault(SyncStrings::windowsLocale(QLocale::system()));
    return SyncStrings::application();
}

QSettings& chosen(QSettings* given, std::unique_ptr<QSettings>& own) {
    if (given != nullptr) return *given;
    own = std::make_unique<QSettings>();
    return *own;
}

NotificationCenter& chosen(NotificationCenter* given, std::unique_ptr<NotificationCenter>& own) {
    if (given != nullptr) return *given;
    own = std::make_unique<FreedesktopNotificationCenter>(QDBusConnection::sessionBus());
    return *own;
}

// The feed the bundle's build names, if any.
std::unique_ptr<UpdateFeed> updateFeed(const std::filesystem::path& bundleRoot) {
    const BundleInfo bundle =
        bundleRoot.empty() ? BundleInfo::application()
                           : BundleInfo::read(QString::fromStdString((bundleRoot / "Contents" / "Info.ini").string()));
    return std::make_unique<UpdateFeed>(bundle.updateFeedURL, bundle.shortVersion, bundle.buildNumber,
                                        SystemClock::shared());
}

}  // namespace

void KeltoSyncApp::NotifierNotices::notifySuccess(const RunRecord& record, const std::string& jobName) {
    notifier_.notifySuccess(record, jobName);
}

void KeltoSyncApp::NotifierNotices::notifyProblem(const RunRecord& record, const std::string& jobName) {
    notifier_.notifyProblem(record, jobName);
}

void KeltoSyncApp::NotifierNotices::notifyReviewNeeded(const Uuid& jobID, const std::string& jobName,
                                                       const std::string& detail) {
    notifier_.notifyReviewNeeded(jobID, jobName, detail);
}

void KeltoSyncApp::NotifierNotices::askToSync(const SyncJob& job) { notifier_.askToSync(job); }

void KeltoSyncApp::NotifierNotices::withdrawAsk(const Uuid& jobID) { notifier_.withdrawAsk(jobID); }

KeltoSyncApp::KeltoSyncApp(Options options)
    : options_(std::move(options)),
      strings_(hostStrings()),
      defaults_(chosen(options_.defaults, ownDefaults_)),
      notifications_(chosen(options_.notifications, ownNotifications_)),
      notifier_(notifications_, defaults_, strings_),
      notices_(notifier_),
      runtime_(makeRuntime(options_, main_, notices_, startupError_)),
      adapter_(runtime_ ? std::make_unique<AppModelAdapter>(runtime_->model()) : nullptr),
      setup_(defaults_, setupDependencies()),
      updater_(updateFeed(options_.bundleRoot)),
      quitController_({
          .model = [this]() -> AppModelInterface* { return runtime_ ? &runtime_->model() : nullptr; },
          .confirmStop = &QuitController::askToStop,
          .cancelRelaunch = [] { AppRelauncher::shared().cancelRelaunch(); },
          .quit = [] { QCoreApplication::exit(0); },
          .leaveDrafts = [this](std::function<void()> proceed,
                                std::function<void()> stay) { leaveDrafts(std::move(proceed), std::move(stay)); },
      }),
      mainWindow_([this] { return makeMainWindow(); },
                  [this](QWidget& window) {
                      presence_.registerWindow(&window);
                      if (runtime_) setup_.setMainWindow(&window);
                  }),
      tray_(
          TrayActions{
              .openMainWindow = [this] { mainWindow_.openMainWindow(); },
              .syncAll = [this] { if (runtime_) runtime_->model().runAll(); },
              .showSettings = [this] { showSettings(); },
              .quit = [this] { requestQuit(); },
          },
          [this] { return makeMenuContent(); }, strings_),
      lifecycle_(runtime_ ? &runtime_->model() : nullptr, runtime_ ? &setup_ : nullptr, defaults_, mainWindow_,
                 options_.launchedAsLoginItem) {
    if (!options_.startupWarning.isEmpty()) {
        if (runtime_) {
            // After a failure of the model's own, which it found first.
            const std::optional<std::string> own = runtime_->model().errorMessage();
            const std::string warning = options_.startupWarning.toStdString();
            runtime_->model().setErrorMessage(own ? *own + "\n\n" + warning : warning);
        } else {
            startupError_ += QStringLiteral("\n\n") + options_.startupWarning;
        }
    }
    // The tray icon is drawn for the desktop's panel, not for the look of
    // the application's windows.
    QObject::connect(&appearance_, &DesktopAppearance::desktopSchemeChanged, &trayImage_, &TrayIconImage::setScheme);
    appearance_.start();
    NotificationRouter::shared().listen(notifications_);
    NotificationRouter::shared().setModel(adapter_.get());
    if (runtime_) notifier_.follow(&runtime_->model());

    settingsActions_.presentSetup = [this](const std::optional<QString>& item) {
        setup_.present(item, settingsWindow_ ? settingsWindow_->window() : nullptr);
    };
    settingsActions_.requestAuthorization = [this](std::function<void(bool)> done) {
        notifier_.requestAuthorization([done = std::move(done)](Result<bool> granted) {
            done(granted.hasValue() && granted.get());
        });
    };
    if (runtime_) settingsWindow_ = std::make_unique<SyncSettingsWindowController>(updater_, strings_, settingsActions_);

    quitController_.watchSignals();
    quitController_.watchApplication(*QCoreApplication::instance(),
                                     [] { AppRelauncher::shared().applicationWillTerminate(); });

    if (adapter_) {
        trayImage_.follow(*adapter_);
    } else {
        trayImage_.setState(MenuBarIconState::attention());
    }
    tray_.setIcon(trayImage_.icon());
    QObject::connect(&trayImage_, &TrayIconImage::iconChanged, &tray_, &TrayPresence::setIcon);
}

KeltoSyncApp::~KeltoSyncApp() {
    // Nobody is left to answer them; the notifier outlives the model.
    notifier_.withdrawQuestions();
    notifier_.follow(nullptr);
    NotificationRouter::shared().setModel(nullptr);
}

std::unique_ptr<AppRuntime> KeltoSyncApp::makeRuntime(const Options& options, MainExecutor& main,
                                                      RunNotices& notices, QString& error) {
    try {
        return std::make_unique<AppRuntime>(AppRuntime::Options{
            .bundleRoot = options.bundleRoot.empty() ? AppRuntime::bundleRootFromExecutable() : options.bundleRoot,
            .folders = options.folders,
            .main = main,
            .notices = notices,
            .openJob = {},
            .systemEvents = options.systemEvents,
            .volumeEvents = options.volumeEvents,
            .sleepInhibitor = nullptr,
            .ejector = nullptr,
        });
    } catch (const RsyncLocatorError& failure) {
        error = QString::fromStdString(failure.what());
        return nullptr;
    }
}

SyncSetup::Dependencies KeltoSyncApp::setupDependencies() {
    SyncSetup::Dependencies dependencies = SyncSetup::Dependencies::system(strings_);
    dependencies.requestNotifications = [this](std::function<void()> done) {
        notifier_.requestAuthorization([done = std::move(done)](Result<bool>) { done(); });
    };
    return dependencies;
}

void KeltoSyncApp::start() {
    tray_.show();
    QTimer::singleShot(0, &lifecycle_, &SyncMenuLifecycle::handleInitialLaunch);
    // Last, so that a first check finds everything in place. A build that
    // cannot run its jobs offers no settings window to reach the updater.
    if (runtime_) updater_.start();
}

QWidget* KeltoSyncApp::makeMainWindow() {
    auto* window = new QWidget;
    window->setWindowTitle(strings_.text(QStringLiteral("Kelto Sync"), locale_));
    window->resize(1000, 760);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    const WindowMenu::Made menu = WindowMenu::make(*window, strings_, locale_, runtime_ != nullptr,
                                                   [this] { showSettings(); }, [this] { requestQuit(); });
    layout->setMenuBar(menu.bar);
    if (adapter_) {
        layout->addWidget(new JobListView(*adapter_, strings_, JobListView::standardEditors(*adapter_, strings_)));
    } else {
        auto* reason = new QLabel(startupError_, window);
        reason->setTextFormat(Qt::PlainText);
        reason->setMargin(20);
        reason->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        layout->addWidget(reason);
    }
    return window;
}

QWidget* KeltoSyncApp::makeMenuContent() {
    if (adapter_) {
        // A window opened from the popup takes over: the popup closes first,
        // or it would keep the keyboard and mouse until the next click.
        const auto closingPopup = [this](std::function<void()> action) {
            return [this, action = std::move(action)] {
                if (QWidget* popup = tray_.popup()) popup->close();
                action();
            };
        };
        return new MenuBarContent(*adapter_, strings_,
                                  MenuBarContent::Actions{
                                      .openMainWindow = closingPopup([this] { mainWindow_.openMainWindow(); }),
                                      .showSettings = closingPopup([this] { showSettings(); }),
                                      .quit = closingPopup([this] { requestQuit(); }),
                                  });
    }
    // Without a runtime the popup says why start-up failed.
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(new QLabel(strings_.text(QStringLiteral("Unable to start Kelto Sync"), locale_), content));
    auto* reason = new QLabel(startupError_, content);
    reason->setTextFormat(Qt::PlainText);
    SecondaryText::apply(reason);
    reason->setWordWrap(true);
    layout->addWidget(reason);
    auto* quitButton = new QPushButton(strings_.text(QStringLiteral("Quit"), locale_), content);
    QObject::connect(quitButton, &QPushButton::clicked, content, [this] { requestQuit(); });
    layout->addWidget(quitButton);
    return content;
}

void KeltoSyncApp::showSettings() {
    if (!settingsWindow_) return;
    settingsWindow_->show();
    presence_.registerWindow(settingsWindow_->window());
}

void KeltoSyncApp::requestQuit() { quitController_.requestQuit(true); }

void KeltoSyncApp::leaveDrafts(std::function<void()> proceed, std::function<void()> stay) {
    QWidget* window = mainWindow_.window();
    auto* jobs = window != nullptr ? window->findChild<JobListView*>() : nullptr;
    if (jobs == nullptr) return proceed();
    // The question shows over the window it is about, hidden or minimised as it may be.
    if (jobs->holdsChanges()) mainWindow_.openMainWindow();
    jobs->leaveDrafts(std::move(proceed), std::move(stay));
}

}  // namespace kelto
