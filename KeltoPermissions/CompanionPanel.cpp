#include "KeltoPermissions/CompanionPanel.h"

#include "KeltoPermissions/AppInstallLocation.h"
#include "KeltoPermissions/CompanionContent.h"
#include "KeltoPermissions/SettingsLaunches.h"
#include "KeltoPermissions/SettingsOpener.h"
#include "Platform/Desktop/DesktopWindows.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace kelto {

namespace {

Q_LOGGING_CATEGORY(companionLog, "KeltoPermissions.companion")

QString rectText(const QRectF& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

}  // namespace

std::optional<CompanionPanel::Dependencies> CompanionPanel::Dependencies::system() {
    // Nothing asks the display here: at launch no companion is wanted yet.
    DesktopWindows& desktop = DesktopWindows::shared();
    const auto settings = [](const DesktopWindows::Window& window) {
        return window.belongsTo(SettingsOpener::settingsPrograms()) || SettingsLaunches::shared().owns(window);
    };
    Dependencies d;
    d.frontmostProgram = [settings]() -> std::optional<QString> {
        const auto window = DesktopWindows::shared().frontmostWindow();
        if (!window) return std::nullopt;
        settings(*window);  // a window found by its process teaches its class
        return window->program();
    };
    d.geometry = [settings] { return SettingsWindowGeometry::current(settings); };
    d.isSettings = [](const QString& program) {
        return SettingsOpener::settingsPrograms().contains(program, Qt::CaseInsensitive) ||
               SettingsLaunches::shared().names(program);
    };
    d.available = [] { return DesktopWindows::shared().usable(); };
    d.mainVisibleFrame = []() -> std::optional<QRectF> {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) return std::nullopt;
        return QRectF(screen->availableGeometry());
    };
    d.sleep = [](Duration delay, QObject* context, std::function<void()> wake) {
        QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(wake));
    };
    // Shown without taking the focus from the settings.
    d.present = [](QWidget& panel) {
        panel.show();
        panel.raise();
    };
    d.dismiss = [](QWidget& panel) { panel.hide(); };
    d.workspace = &desktop;
    return d;
}

CompanionPanel::CompanionPanel(PermissionChecklist& checklist, PermissionItem item, std::function<void()> onBack,
                               std::function<void(bool)> visibilityChanged, Dependencies dependencies,
                               QObject* parent)
    : QObject(parent),
      checklist_(checklist),
      item_(std::move(item)),
      onBack_(std::move(onBack)),
      visibilityChanged_(std::move(visibilityChanged)),
      dependencies_(std::move(dependencies)) {}

CompanionPanel::~CompanionPanel() { delete panel_; }

bool CompanionPanel::isSettings(const std::optional<QString>& program) const {
    if (!program) return false;
    if (dependencies_.isSettings) return dependencies_.isSettings(*program);
    return SettingsOpener::settingsPrograms().contains(*program, Qt::CaseInsensitive);
}

void CompanionPanel::start() {
    if (panel_ || finished_) return;
    qCInfo(companionLog, "Start item=%s", qUtf8Printable(item_.id));

    panel_ = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                      Qt::WindowDoesNotAcceptFocus);
    panel_->setAttribute(Qt::WA_ShowWithoutActivating);
    panel_->setAttribute(Qt::WA_TranslucentBackground);
    panel_->setObjectName(QStringLiteral("companionPanel"));
    const QString bundle = QCoreApplication::applicationFilePath();
    QPointer<CompanionPanel> self(this);
    content_ = new CompanionContent(checklist_, item_, bundle, AppInstallLocation::detect(bundle.toStdString()),
                                    [self] {
                                        if (self && self->onBack_) self->onBack_();
                                    });
    auto* layout = new QVBoxLayout(panel_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    lastStatus_ = checklist_.status(item_.id);
    connect(&checklist_, &PermissionChecklist::changed, this, &CompanionPanel::checklistChanged);
    fit();

    if (dependencies_.workspace) {
        connect(dependencies_.workspace, &WorkspaceEvents::activated, this, &CompanionPanel::workspaceActivated);
        connect(dependencies_.workspace, &WorkspaceEvents::terminated, this, &CompanionPanel::workspaceTerminated);
    }
    schedule(positionStep());
}

void CompanionPanel::fit() {
    panel_->adjustSize();
    preferredSize_ = panel_->size();
}

void CompanionPanel::schedule(Duration delay) {
    const quint64 ticket = ++positionTicket_;
    dependencies_.sleep(delay, this, [this, ticket] {
        if (ticket != positionTicket_ || finished_) return;
        schedule(positionStep());
    });
}

CompanionPanel::Duration CompanionPanel::positionStep() {
    if (finished_ || !panel_) return idleStep;
    const std::optional<QString> front = dependencies_.frontmostProgram();
    if (front != lastFrontmost_) {
        qCInfo(companionLog, "Frontmost changed=%s", qUtf8Printable(front.value_or(QStringLiteral("none"))));
        lastFrontmost_ = front;
    }
    if (!isSettings(front)) {
        setShowing(false, QStringLiteral("settings-not-frontmost"));
        return idleStep;
    }
    QRectF target;
    QString source;
    if (const auto geometry = dependencies_.geometry()) {
        target = CompanionLayout::frame(geometry->frame, geometry->visibleFrame, preferredSize_, gap);
        source = QStringLiteral("window");
    } else if (const auto main = dependencies_.mainVisibleFrame()) {
        target = CompanionLayout::fallback(*main, preferredSize_, gap);
        source = QStringLiteral("fallback-main-screen");
    } else {
        setShowing(false, QStringLiteral("no-visible-screen"));
        return shownStep;
    }
    const QRect frame = target.toRect();
    if (source != lastGeometrySource_ || panel_->geometry() != frame) {
        qCDebug(companionLog, "Geometry source=%s frame=%s", qUtf8Printable(source), qUtf8Printable(rectText(target)));
        lastGeometrySource_ = source;
    }
    if (panel_->geometry() != frame) panel_->setGeometry(frame);
    setShowing(true, source);
    return shownStep;
}

void CompanionPanel::setShowing(bool shown, const QString& reason) {
    if (shown == showing_) return;
    showing_ = shown;
    if (panel_) {
        if (shown) {
            dependencies_.present(*panel_);
        } else {
            dependencies_.dismiss(*panel_);
        }
    }
    qCInfo(companionLog, "Visibility=%s reason=%s", shown ? "shown" : "hidden", qUtf8Printable(reason));
    if (visibilityChanged_) visibilityChanged_(shown);
}

void CompanionPanel::checklistChanged() {
    const PermissionStatus status = checklist_.status(item_.id);
    if (status == lastStatus_) return;
    lastStatus_ = status;
    if (panel_) fit();
    statusChanged(status);
}

void CompanionPanel::statusChanged(PermissionStatus status) {
    const quint64 ticket = ++confirmationTicket_;
    if (status != PermissionStatus::granted || finished_) return;
    dependencies_.sleep(grantedDelay, this, [this, ticket] {
        if (ticket == confirmationTicket_) close(QStringLiteral("permission-granted"));
    });
}

void CompanionPanel::close(const QString& reason) {
    if (finished_) return;
    qCInfo(companionLog, "Close reason=%s item=%s", qUtf8Printable(reason), qUtf8Printable(item_.id));
    finished_ = true;
    ++positionTicket_;
    ++confirmationTicket_;
    if (dependencies_.workspace) dependencies_.workspace->disconnect(this);
    disconnect(&checklist_, nullptr, this, nullptr);
    setShowing(false, reason);
    if (panel_) {
        panel_->close();
        panel_->deleteLater();
        panel_ = nullptr;
        content_ = nullptr;
    }
}

void CompanionPanel::workspaceActivated() {
    if (finished_) return;
    qCDebug(companionLog, "Activation notification frontmost=%s",
            qUtf8Printable(dependencies_.frontmostProgram().value_or(QStringLiteral("none"))));
    positionStep();
}

void CompanionPanel::workspaceTerminated(const QString& program) {
    if (isSettings(program)) close(QStringLiteral("settings-terminated"));
}

}  // namespace kelto
