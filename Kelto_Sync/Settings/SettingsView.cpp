#include "Kelto_Sync/Settings/SettingsView.h"

#include "FenraCore/WindowPlacement.h"

#include "Kelto_Sync/Notifications/Notifier.h"

#include "FenraCore/DogEar.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/PaletteTone.h"
#include "FenraMac/SettingsShell.h"
#include "FenraSettings/SettingsRow.h"
#include "KeltoDesign/KeltoAppIcon.h"
#include "KeltoDesign/KeltoIcon.h"
#include "KeltoPermissions/PermissionStatusLabel.h"
#include "KeltoPermissions/PermissionStrings.h"
#include "Kelto_Sync/Settings/LicensesView.h"
#include "Kelto_Sync/Settings/UpdateFeed.h"
#include "Kelto_Sync/Settings/Updater.h"
#include "Kelto_Sync/SecondaryText.h"

#include <QCheckBox>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

namespace kelto {
namespace {

const QString generalId = QStringLiteral("general");
const QString permissionsId = QStringLiteral("permissions");
const QString aboutId = QStringLiteral("about");

QCheckBox* makeSwitch(const QString& name, const QString& accessibleName) {
    auto* box = new QCheckBox;
    box->setObjectName(name);
    box->setAccessibleName(accessibleName);
    return box;
}

QPushButton* makeButton(const QString& name, const QString& title) {
    auto* button = new QPushButton(title);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

// A grouped form sets each section apart from the rows above it.
constexpr int sectionGap = 16;

QLabel* sectionHeader(const QString& title, bool first = false) {
    auto* label = new QLabel(title);
    label->setObjectName(QStringLiteral("sectionHeader"));
    label->setFont(FenraFont::font(FontRole::headline));
    label->setContentsMargins(0, first ? 0 : sectionGap, 0, 0);
    return label;
}

// The About header's card: the dog ear folds its corner over, so it needs a
// face of its own against the pane.
class HeaderCard : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), FenraTheme::stroke().color(palette()));
    }
};

// The switch shows what the notifier will do.
bool notificationsOn() { return Notifier::isEnabled(QSettings()); }

}  // namespace

SettingsView::SettingsView(Updater& updater, SyncStrings strings, SettingsViewActions actions, QWidget* parent)
    : QWidget(parent), updater_(updater), strings_(std::move(strings)), actions_(std::move(actions)) {
    login_ = actions_.loginItem.isEnabled();
    shell_ = new SettingsShell(panes(), selection_, generalId, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(shell_);

    connect(&selection_, &BindingNotifier::changed, this, [this] {
        if (selection_.get() == permissionsId) refreshFullDiskAccess();
    });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) refresh();
    });
}

SettingsView::~SettingsView() = default;

QString SettingsView::text(const QString& english) const {
    return strings_.text(english, locale());
}

void SettingsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (selection_.get() == permissionsId) refreshFullDiskAccess();
}

void SettingsView::refresh() {
    login_ = actions_.loginItem.isEnabled();
    emit stateChanged();
    if (selection_.get() == permissionsId) refreshFullDiskAccess();
}

void SettingsView::refreshFullDiskAccess() {
    if (!actions_.probeFullDiskAccess) return;
    const std::uint64_t probe = ++probesStarted_;
    auto* watcher = new QFutureWatcher<PermissionStatus>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, probe] {
        watcher->deleteLater();
        // An older probe that answers after a newer one says less.
        if (probe > probeShown_) {
            probeShown_ = probe;
            fullDiskAccess_ = watcher->result();
            emit stateChanged();
        }
        emit fullDiskAccessProbed();
    });
    watcher->setFuture(QtConcurrent::run(actions_.probeFullDiskAccess));
}

void SettingsView::setOpenAtLogin(bool on) {
    try {
        if (on) actions_.loginItem.registerItem();
        else actions_.loginItem.unregisterItem();
    } catch (const std::exception& failure) {
        error_ = QString::fromUtf8(failure.what());
        emit stateChanged();
        return;
    }
    login_ = actions_.loginItem.isEnabled();
    error_.reset();
    emit stateChanged();
}

void SettingsView::showLicenses() {
    if (licenses_ != nullptr) return;
    licenses_ = new LicensesView(strings_, actions_.licensesFolder, this);
    licenses_->setAttribute(Qt::WA_DeleteOnClose);
    WindowPlacement::openSheet(*licenses_);
}

QString SettingsView::currentVersionLine() const {
    return strings_.format(QStringLiteral("Current version %@ (%@)"),
                           {actions_.bundle.shortVersion, actions_.bundle.buildNumber}, locale());
}

QString SettingsView::versionLine() const {
    return strings_.format(QStringLiteral("Version %@ (%@)"),
                           {actions_.bundle.shortVersion, actions_.bundle.buildNumber}, locale());
}

QString SettingsView::statusTitleKey(PermissionStatus status) {
    switch (status) {
    case PermissionStatus::checking: return QStringLiteral("Checking…");
    case PermissionStatus::granted: return QStringLiteral("Allowed");
    case PermissionStatus::missing:
    case PermissionStatus::denied: return QStringLiteral("Not allowed");
    case PermissionStatus::needsApproval: return QStringLiteral("Needs approval");
    case PermissionStatus::restartRequired: return QStringLiteral("Restart needed");
    case PermissionStatus::unverifiable: return QStringLiteral("Can't verify");
    }
    return {};
}

std::vector<SettingsPane> SettingsView::panes() {
    const auto terms = [this](std::initializer_list<const char*> english) {
        QStringList list;
        for (const char* term : english) list << text(QString::fromUtf8(term));
        return list;
    };
    const SettingsGroup core{QStringLiteral("core"), std::nullopt};
    const SettingsGroup last{QStringLiteral("last"), std::nullopt};
    std::vector<SettingsPane> list;
    list.emplace_back(generalId, text(QStringLiteral("General")), KeltoIcon::paneGeneral, TileTint::graphite, core,
                      terms({"Open at login", "Notifications", "Enable notifications", "Notify on success",
                             "Automatic sync runs only while Kelto Sync is open.", "Updates",
                             "Automatically check for updates",
                             "Checks daily. Updates are installed only with your approval.", "Current version",
                             "Check for updates…"}),
                      [this] { return generalPane(); });
    list.emplace_back(permissionsId, text(QStringLiteral("Permissions")), FenraIcon::permission, TileTint::sky, core,
                      terms({"Full Disk Access", "Full Disk Access verified", "Full Disk Access not verified",
                             "Grant Full Disk Access", "Setup checklist…"}),
                      [this] { return permissionsPane(); });
    list.emplace_back(aboutId, text(QStringLiteral("About")), FenraIcon::info, TileTint::graphite, last,
                      terms({"Kelto Sync", "Credits & licenses", "Show…", "Version"}),
                      [this] { return aboutPane(); });
    return list;
}

QWidget* SettingsView::generalPane() {
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);

    auto* login = makeSwitch(QStringLiteral("openAtLogin"), text(QStringLiteral("Open at login")));
    layout->addWidget(new SettingsRow(text(QStringLiteral("Open at login")),
                                      text(QStringLiteral("Automatic sync runs only while Kelto Sync is open.")),
                                      [login] { return login; }));
    connect(login, &QCheckBox::clicked, this, [this](bool on) { setOpenAtLogin(on); });

    layout->addWidget(sectionHeader(text(QStringLiteral("Notifications"))));
    auto* notifications =
        makeSwitch(QStringLiteral("notificationsEnabled"), text(QStringLiteral("Enable notifications")));
    layout->addWidget(new SettingsRow(text(QStringLiteral("Enable notifications")), std::nullopt,
                                      [notifications] { return notifications; }));
    auto* success = makeSwitch(QStringLiteral("notifySuccess"), text(QStringLiteral("Notify on success")));
    layout->addWidget(
        new SettingsRow(text(QStringLiteral("Notify on success")), std::nullopt, [success] { return success; }));
    connect(notifications, &QCheckBox::clicked, this, [this](bool on) {
        QSettings().setValue(notificationsKey, on);
        emit stateChanged();
        if (on && actions_.requestAuthorization) actions_.requestAuthorization([](bool) {});
    });
    connect(success, &QCheckBox::clicked, this, [this](bool on) { QSettings().setValue(successKey, on); });

    layout->addWidget(sectionHeader(text(QStringLiteral("Updates"))));
    auto* automatic =
        makeSwitch(QStringLiteral("automaticUpdates"), text(QStringLiteral("Automatically check for updates")));
    layout->addWidget(
        new SettingsRow(text(QStringLiteral("Automatically check for updates")),
                        text(QStringLiteral("Checks daily. Updates are installed only with your approval.")),
                        [automatic] { return automatic; }));
    connect(automatic, &QCheckBox::clicked, this, [this](bool on) { updater_.setAutomaticallyChecksForUpdates(on); });
    auto* check = makeButton(QStringLiteral("checkForUpdates"), text(QStringLiteral("Check for updates…")));
    auto* versionRow = new SettingsRow(currentVersionLine(), std::nullopt, [check] { return check; });
    versionRow->setObjectName(QStringLiteral("currentVersion"));
    layout->addWidget(versionRow);
    connect(check, &QPushButton::clicked, this, [this] { updater_.controller().checkForUpdates(); });

    auto* error = new QLabel;
    PaletteTone::apply(error, FenraTheme::error());
    error->setObjectName(QStringLiteral("loginError"));
    error->setTextFormat(Qt::PlainText);
    error->setWordWrap(true);
    layout->addWidget(error);
    layout->addStretch();

    const auto update = [this, login, notifications, success, automatic, check, error] {
        login->setChecked(login_);
        const bool on = notificationsOn();
        notifications->setChecked(on);
        success->setChecked(QSettings().value(successKey, false).toBool());
        success->setEnabled(on);
        automatic->setChecked(updater_.automaticallyChecksForUpdates());
        check->setEnabled(updater_.canCheckForUpdates());
        error->setText(error_.value_or(QString()));
        error->setVisible(error_.has_value());
    };
    update();
    connect(this, &SettingsView::stateChanged, pane, update);
    connect(&updater_, &Updater::canCheckForUpdatesChanged, pane, update);
    connect(&updater_, &Updater::automaticallyChecksForUpdatesChanged, pane, update);
    return pane;
}

QWidget* SettingsView::permissionsPane() {
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->addWidget(sectionHeader(text(QStringLiteral("Full Disk Access")), true));
    auto* holder = new QWidget;
    auto* holderLayout = new QVBoxLayout(holder);
    holderLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(holder);
    auto* setup = makeButton(QStringLiteral("setupChecklist"), text(QStringLiteral("Setup checklist…")));
    layout->addWidget(new SettingsRow(text(QStringLiteral("Setup checklist…")), std::nullopt, [setup] { return setup; }));
    connect(setup, &QPushButton::clicked, this, [this] {
        if (actions_.presentSetup) actions_.presentSetup(std::nullopt);
    });
    layout->addStretch();

    // The row's title follows the status, so the row is made anew. Linux
    // has no Full Disk Access grant to open, so no grant button is offered:
    // the status alone is shown.
    const auto fill = [this, holder, holderLayout] {
        while (QLayoutItem* item = holderLayout->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        const PermissionStrings permissionStrings;
        const QString title = fullDiskAccess_ == PermissionStatus::granted
                                  ? text(QStringLiteral("Full Disk Access verified"))
                                  : text(QStringLiteral("Full Disk Access not verified"));
        auto* row = new SettingsRow(
            title,
            text(QStringLiteral("Lets scheduled syncs read Desktop, Documents, external and network drives without "
                                "asking each time.")),
            [this, &permissionStrings] {
                auto* label = new PermissionStatusLabel(fullDiskAccess_,
                                                        permissionStrings.string(statusTitleKey(fullDiskAccess_)),
                                                        PermissionPresentation::setting);
                label->setObjectName(QStringLiteral("fullDiskAccessStatus"));
                return label;
            },
            holder);
        row->setObjectName(QStringLiteral("fullDiskAccess"));
        holderLayout->addWidget(row);
    };
    fill();
    connect(this, &SettingsView::stateChanged, pane, fill);
    return pane;
}

QWidget* SettingsView::aboutPane() {
    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);

    auto* header = new HeaderCard;
    header->setObjectName(QStringLiteral("aboutHeader"));
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(16, 16, 16, 16);
    headerLayout->setSpacing(16);
    auto* icon = new KeltoAppIcon;
    icon->setFixedSize(64, 64);
    icon->setAccessibleName(QString());
    headerLayout->addWidget(icon, 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout;
    names->setSpacing(4);
    auto* product = new QLabel(QStringLiteral("Kelto Sync"));
    QFont productFont = FenraFont::font(FontRole::title2);
    productFont.setWeight(QFont::DemiBold);
    product->setFont(productFont);
    auto* version = new QLabel(versionLine());
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setFont(FenraFont::font(FontRole::subheadline));
    SecondaryText::apply(version);
    names->addWidget(product);
    names->addWidget(version);
    headerLayout->addLayout(names);
    headerLayout->addStretch();
    layout->addWidget(new DogEar(header, 12, 12));

    auto* show = makeButton(QStringLiteral("showLicenses"), text(QStringLiteral("Show…")));
    layout->addWidget(new SettingsRow(text(QStringLiteral("Credits & licenses")), std::nullopt, [show] { return show; }));
    connect(show, &QPushButton::clicked, this, &SettingsView::showLicenses);
    layout->addStretch();
    return pane;
}

}  // namespace kelto
