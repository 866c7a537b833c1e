#include "KeltoPermissions/PermissionSetupController.h"

#include "KeltoPermissions/PermissionChecklistView.h"

#include "FenraCore/ContentFit.h"
#include "FenraCore/WindowPlacement.h"

#include <QApplication>
#include <QEvent>
#include <QWindowStateChangeEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace kelto {

PermissionSetupController::PermissionSetupController(PermissionChecklist& checklist, MakeView makeView,
                                                     QString windowTitle,
                                                     std::function<void(PermissionSetupOutcome)> onFinish,
                                                     WindowAction present, WindowAction dismiss, QObject* parent)
    : QObject(parent),
      checklist_(checklist),
      makeView_(std::move(makeView)),
      windowTitle_(std::move(windowTitle)),
      onFinish_(std::move(onFinish)),
      present_(std::move(present)),
      dismiss_(std::move(dismiss)),
      companionDependencies_(CompanionPanel::Dependencies::system()) {
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive) {
            applicationDidBecomeActive();
        } else {
            applicationDidResignActive();
        }
    });
    QPointer<PermissionSetupController> self(this);
    checklist_.onOpenSettings = [self](const PermissionItem& item) {
        if (self) self->handOff(item);
    };
    checklist_.onSettingsOpenFailed = [self] {
        if (self) self->restoreChecklist(QStringLiteral("settings-open-failed"));
    };
}

PermissionSetupController::~PermissionSetupController() {
    checklist_.onOpenSettings = nullptr;
    checklist_.onSettingsOpenFailed = nullptr;
    teardown();
}

void PermissionSetupController::setCompanionDependencies(std::optional<CompanionPanel::Dependencies> dependencies) {
    companionDependencies_ = std::move(dependencies);
}

int PermissionSetupController::heightCap(int availableHeight) {
    return availableHeight - QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight) - screenMargin;
}

void PermissionSetupController::createWindow() {
    // A dialog-type window: X11 window managers keep it above the window
    // it is presented for only when it is one (WM_TRANSIENT_FOR).
    auto* window = new QWidget(nullptr);
    WindowPlacement::keepAsDialog(*window);
    window->setObjectName(QStringLiteral("permissionSetupWindow"));
    window->setWindowTitle(windowTitle_);
    auto* scroll = new QScrollArea(window);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QWidget* view = makeView_(*this);
    scroll->setWidget(view);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll);
    window_ = window;
    view_ = view;
    fitWindow();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window->move(available.center() - QPoint(window->width() / 2, window->height() / 2));
    }
    WindowPlacement::follow(*window);
    // Rows grow and shrink as their statuses arrive, also while the window
    // is hidden during a hand-off: the window follows.
    ContentFit::follow(*window, *view, [self = QPointer<PermissionSetupController>(this)] {
        if (self) QMetaObject::invokeMethod(self, &PermissionSetupController::fitWindow, Qt::QueuedConnection);
    });
    watchWindow(true);
}

void PermissionSetupController::fitWindow() {
    if (!window_ || !view_) return;
    QWidget* view = view_;
    auto* scroll = window_->findChild<QScrollArea*>();
    // A view of fixed width hints at its content's narrower width: its own
    // bounds decide, or the scroll area, whose content never scrolls
    // sideways, cuts off its right side.
    QSize size = view->sizeHint()
                     .expandedTo(view->minimumSizeHint())
                     .expandedTo(view->minimumSize())
                     .boundedTo(view->maximumSize());
    if (view->hasHeightForWidth()) size.setHeight(std::max(view->heightForWidth(size.width()), view->minimumHeight()));
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int cap = screen != nullptr ? heightCap(screen->availableGeometry().height()) : size.height();
    int height = std::min(size.height(), cap);
    // Held once the user has reached the shown window (see `reaches`);
    // until then it follows its rows as their first statuses arrive.
    if (!window_->isVisible()) keptHeight_.reset();
    if (keptHeight_) height = *keptHeight_;
    // The checklist itself keeps the height, its list taking what changes,
    // so that its buttons stay in view.
    if (auto* checklistView = qobject_cast<PermissionChecklistView*>(view)) {
        checklistView->holdHeight(keptHeight_);
        if (keptHeight_) size.setHeight(std::min(size.height(), *keptHeight_));
    }
    if (size.height() > height) {
        // The vertical scroll bar then takes its width beside the view.
        size.rwidth() += scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll->verticalScrollBar());
    }
    size.setHeight(height);
    if (window_->size() == size && window_->minimumSize() == size) return;
    const QRect frame = WindowPlacement::outerOf(*window_);
    const QRect client = window_->geometry();
    const bool follows = window_->isVisible() && client.height() != height;
    window_->setFixedSize(size);
    // A shown window that follows its rows grows and shrinks about its
    // middle, within the free area, as if placed afresh.
    if (follows) {
        const QMargins decoration = WindowPlacement::frameOf(*window_);
        const QRect free = WindowPlacement::freeArea(*window_);
        const int top = WindowPlacement::centred(size.grownBy(decoration), frame, free).top();
        WindowPlacement::moveOuterTo(*window_, {frame.left(), top});
    }
}

bool PermissionSetupController::reaches(QEvent::Type type) {
    // The pointer moving, a press, a turn of the wheel, a key, a touch. A
    // window that opens under a resting pointer only gets an Enter: the
    // user has not reached for anything in it yet.
    switch (type) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::TouchBegin:
    case QEvent::TabletPress:
        return true;
    default:
        return false;
    }
}

void PermissionSetupController::watchWindow(bool on) {
    if (!window_) return;
    if (on) {
        window_->installEventFilter(this);
        window_->winId();  // makes the QWindow whose exposure counts
        if (QWindow* handle = window_->windowHandle()) handle->installEventFilter(this);
    } else {
        window_->removeEventFilter(this);
        if (QWindow* handle = window_->windowHandle()) handle->removeEventFilter(this);
    }
}

bool PermissionSetupController::eventFilter(QObject* watched, QEvent* event) {
    if (window_ && watched == window_) {
        if (event->type() == QEvent::Close) {
            windowWillClose();
        } else if (event->type() == QEvent::Hide) {
            // Shown again, it is measured afresh.
            keptHeight_.reset();
            if (auto* checklistView = qobject_cast<PermissionChecklistView*>(view_.data())) {
                checklistView->holdHeight(std::nullopt);
            }
        } else if (event->type() == QEvent::WindowStateChange) {
            if (window_->isMinimized()) {
                windowDidMiniaturize();
            } else if (static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized) {
                windowDidDeminiaturize();
            }
        }
    } else if (window_ && watched == window_->windowHandle() && event->type() == QEvent::Expose) {
        // Qt delivers the expose to the window first; read its state after.
        QMetaObject::invokeMethod(this, &PermissionSetupController::windowDidChangeOcclusionState, Qt::QueuedConnection);
    } else if (window_ && watched == window_->windowHandle() && !keptHeight_ && window_->isVisible() &&
               reaches(event->type())) {
        // From now on a change of height could move "Done" or "Set up
        // later" under the pointer: the window keeps the height it shows.
        keptHeight_ = window_->height();
        fitWindow();
    }
    return false;
}

void PermissionSetupController::show(const std::optional<QString>& focusing) {
    restoreOnActivation_ = false;
    closeCompanion(QStringLiteral("checklist-shown"));
    if (focusing) checklist_.focus(*focusing);
    if (!window_) createWindow();
    present_(*window_);
    visible_ = true;
    checklist_.startMonitoring(PermissionChecklist::defaultMonitorInterval);
}

void PermissionSetupController::handOff(const PermissionItem& item) {
    if (!window_) return;
    restoreOnActivation_ = true;
    closeCompanion(QStringLiteral("handoff-replaced"));
    if (!companionDependencies_ || (companionDependencies_->available && !companionDependencies_->available())) {
        // Nothing can stand beside the settings: the checklist stays where
        // the user can find it and refreshes on return.
        return;
    }
    visible_ = false;
    dismiss_(*window_);
    checklist_.stopMonitoring();
    QPointer<PermissionSetupController> self(this);
    companion_ = new CompanionPanel(
        checklist_, item,
        [self] {
            if (self) self->restoreChecklist(QStringLiteral("back-button"));
        },
        [self](bool shown) {
            if (!self) return;
            self->companionVisible_ = shown;
            self->updateMonitoring();
        },
        *companionDependencies_, this);
    companion_->start();
}

void PermissionSetupController::restoreChecklist(const QString& reason) {
    if (!restoreOnActivation_ || !window_) return;
    restoreOnActivation_ = false;
    closeCompanion(reason);
    visible_ = true;
    present_(*window_);
    checklist_.startMonitoring(PermissionChecklist::defaultMonitorInterval);
    checklist_.refreshAfterReturn();
}

void PermissionSetupController::closeCompanion(const QString& reason) {
    if (!companion_) return;
    CompanionPanel* companion = companion_;
    companion_ = nullptr;
    companion->close(reason);
    companion->deleteLater();
}

void PermissionSetupController::finish(PermissionSetupOutcome outcome) {
    if (outcome == PermissionSetupOutcome::done && !checklist_.canFinish()) return;
    checklist_.clearFocus();
    teardown();
    if (onFinish_) onFinish_(outcome);
}

void PermissionSetupController::teardown() {
    restoreOnActivation_ = false;
    visible_ = false;
    companionVisible_ = false;
    closeCompanion(QStringLiteral("setup-closed"));
    checklist_.stopMonitoring();
    if (window_) {
        watchWindow(false);
        QWidget* window = window_;
        window_ = nullptr;
        window->close();
        window->deleteLater();
    }
}

void PermissionSetupController::windowWillClose() {
    checklist_.clearFocus();
    teardown();
    if (onFinish_) onFinish_(PermissionSetupOutcome::later);
}

void PermissionSetupController::windowDidMiniaturize() {
    visible_ = false;
    updateMonitoring();
}

void PermissionSetupController::windowDidDeminiaturize() {
    if (restoreOnActivation_) return;
    visible_ = QGuiApplication::applicationState() == Qt::ApplicationActive;
    updateMonitoring();
}

void PermissionSetupController::windowDidChangeOcclusionState() {
    if (restoreOnActivation_ || !window_) return;
    const QWindow* handle = window_->windowHandle();
    visible_ = window_->isVisible() && !window_->isMinimized() && handle != nullptr && handle->isExposed();
    updateMonitoring();
}

void PermissionSetupController::applicationDidBecomeActive() {
    if (restoreOnActivation_) {
        restoreChecklist(QStringLiteral("returned-to-app"));
        return;
    }
    if (!window_ || window_->isMinimized()) return;
    visible_ = true;
    updateMonitoring();
    checklist_.refreshAfterReturn();
}

void PermissionSetupController::applicationDidResignActive() {
    // The window stays up when the application deactivates (a hidden window
    // has no way back on Linux), so it stays visible too.
    updateMonitoring();
}

void PermissionSetupController::updateMonitoring() {
    if (!visible_ && !companionVisible_) {
        checklist_.stopMonitoring();
    } else {
        checklist_.startMonitoring(PermissionChecklist::defaultMonitorInterval);
    }
}

}  // namespace kelto
