#include "Platform/Desktop/DesktopWindows.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <utility>

#include <sys/syscall.h>
#include <unistd.h>

// Xlib defines macros (None, Bool, Status…) that clash with Qt: last.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

namespace kelto {

namespace {

Q_LOGGING_CATEGORY(windowsLog, "PlatformDesktop.windows")

Display* x11Display() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

bool waylandSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE").compare(QLatin1String("wayland"), Qt::CaseInsensitive) == 0;
}

// Windows vanish between two requests; such errors mean "absent" here.
int ignoreErrors(Display*, XErrorEvent*) { return 0; }

struct ErrorTrap {
    Display* display;
    int (*previous)(Display*, XErrorEvent*);
    explicit ErrorTrap(Display* d) : display(d), previous(XSetErrorHandler(ignoreErrors)) {}
    ~ErrorTrap() {
        XSync(display, False);
        XSetErrorHandler(previous);
    }
};

std::vector<unsigned long> longs(Display* display, ::Window window, Atom property) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 4096, False, AnyPropertyType, &type, &format, &count, &after,
                           &data) != Success ||
        data == nullptr) {
        return {};
    }
    std::vector<unsigned long> values;
    // Xlib hands 32-bit items back as longs.
    if (format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values.assign(items, items + count);
    }
    XFree(data);
    return values;
}

std::optional<unsigned long> first(const std::vector<unsigned long>& values) {
    if (values.empty()) return std::nullopt;
    return values.front();
}

bool contains(const std::vector<unsigned long>& values, unsigned long value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

}  // namespace

struct DesktopWindows::State {
    Display* display = nullptr;
    ::Window root = 0;
    Atom activeWindow = 0;
    Atom clientListStacking = 0;
    Atom windowType = 0;
    Atom typeNormal = 0;
    Atom wmState = 0;
    Atom stateHidden = 0;
    Atom wmDesktop = 0;
    Atom currentDesktop = 0;
    Atom frameExtents = 0;
    Atom wmPid = 0;

    Atom atom(const char* name) const { return XInternAtom(display, name, False); }

    static std::unique_ptr<State> open() {
        Display* display = x11Display();
        if (display == nullptr || waylandSession()) return nullptr;
        auto state = std::make_unique<State>();
        state->display = display;
        state->root = DefaultRootWindow(display);
        ErrorTrap trap(display);
        // An EWMH manager names a check window that names itself.
        const Atom check = state->atom("_NET_SUPPORTING_WM_CHECK");
        const auto manager = first(longs(display, state->root, check));
        if (!manager || first(longs(display, *manager, check)) != manager) return nullptr;
        const auto supportedAtoms = longs(display, state->root, state->atom("_NET_SUPPORTED"));
        state->activeWindow = state->atom("_NET_ACTIVE_WINDOW");
        state->clientListStacking = state->atom("_NET_CLIENT_LIST_STACKING");
        if (!contains(supportedAtoms, state->activeWindow) || !contains(supportedAtoms, state->clientListStacking)) {
            return nullptr;
        }
        state->windowType = state->atom("_NET_WM_WINDOW_TYPE");
        state->typeNormal = state->atom("_NET_WM_WINDOW_TYPE_NORMAL");
        state->wmState = state->atom("_NET_WM_STATE");
        state->stateHidden = state->atom("_NET_WM_STATE_HIDDEN");
        state->wmDesktop = state->atom("_NET_WM_DESKTOP");
        state->currentDesktop = state->atom("_NET_CURRENT_DESKTOP");
        state->frameExtents = state->atom("_NET_FRAME_EXTENTS");
        state->wmPid = state->atom("_NET_WM_PID");
        return state;
    }

    Window describe(::Window window) const {
        Window result;
        XClassHint hint{nullptr, nullptr};
        if (XGetClassHint(display, window, &hint) != 0) {
            result.instance = QString::fromLocal8Bit(hint.res_name);
            result.className = QString::fromLocal8Bit(hint.res_class);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        result.pid = static_cast<qint64>(first(longs(display, window, wmPid)).value_or(0));
        return result;
    }

    std::optional<QRectF> frame(::Window window) const {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, window, &attributes) == 0 || attributes.map_state != IsViewable) {
            return std::nullopt;
        }
        int x = 0;
        int y = 0;
        ::Window child = 0;
        if (XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child) == 0) return std::nullopt;
        const auto extents = longs(display, window, frameExtents);
        const auto extent = [&](std::size_t i) { return extents.size() == 4 ? static_cast<long>(extents[i]) : 0L; };
        const qreal ratio = qGuiApp->devicePixelRatio();
        return QRectF((x - extent(0)) / ratio, (y - extent(2)) / ratio,
                      (attributes.width + extent(0) + extent(1)) / ratio,
                      (attributes.height + extent(2) + extent(3)) / ratio);
    }

    bool listed(::Window window, std::optional<unsigned long> desktop) const {
        const auto types = longs(display, window, windowType);
        if (!types.empty() && !contains(types, typeNormal)) return false;
        if (contains(longs(display, window, wmState), stateHidden)) return false;
        // 0xFFFFFFFF: on every desktop.
        const auto on = first(longs(display, window, wmDesktop));
        return !desktop || !on || *on == 0xFFFFFFFFUL || *on == *desktop;
    }
};

DesktopWindows& DesktopWindows::shared() {
    static auto* instance = new DesktopWindows;
    return *instance;
}

bool DesktopWindows::probe() { return State::open() != nullptr; }

DesktopWindows::DesktopWindows() : state_(State::open()) {
    if (!state_) return;
    XWindowAttributes attributes;
    XGetWindowAttributes(state_->display, state_->root, &attributes);
    XSelectInput(state_->display, state_->root, attributes.your_event_mask | PropertyChangeMask);
    XFlush(state_->display);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

DesktopWindows::~DesktopWindows() {
    if (state_ && QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const auto& [pid, fd] : watched_) ::close(fd);
}

bool DesktopWindows::Window::belongsTo(const QStringList& programs) const {
    return (!instance.isEmpty() && programs.contains(instance, Qt::CaseInsensitive)) ||
           (!className.isEmpty() && programs.contains(className, Qt::CaseInsensitive));
}

QString DesktopWindows::Window::program() const { return (className.isEmpty() ? instance : className).toLower(); }

bool DesktopWindows::usable() {
    if (!state_ && !std::exchange(told_, true)) {
        qCInfo(windowsLog, "Window list unsupported on platform %s: no companion beside the settings",
               qUtf8Printable(QGuiApplication::platformName()));
    }
    return supported();
}

std::optional<DesktopWindows::Window> DesktopWindows::frontmostWindow() {
    if (!state_) return std::nullopt;
    ErrorTrap trap(state_->display);
    const auto active = first(longs(state_->display, state_->root, state_->activeWindow));
    if (!active || *active == 0) return std::nullopt;
    const Window window = state_->describe(*active);
    if (window.program().isEmpty()) return std::nullopt;
    watch(window);
    return window;
}

std::optional<QString> DesktopWindows::frontmostProgram() {
    const std::optional<Window> window = frontmostWindow();
    if (!window) return std::nullopt;
    return window->program();
}

std::vector<DesktopWindows::Window> DesktopWindows::windows() {
    if (!state_) return {};
    ErrorTrap trap(state_->display);
    const auto desktop = first(longs(state_->display, state_->root, state_->currentDesktop));
    std::vector<Window> result;
    for (const unsigned long id : longs(state_->display, state_->root, state_->clientListStacking)) {
        if (!state_->listed(id, desktop)) continue;
        const auto frame = state_->frame(id);
        if (!frame) continue;
        Window window = state_->describe(id);
        window.frame = *frame;
        watch(window);
        result.push_back(std::move(window));
    }
    return result;
}

void DesktopWindows::watch(const Window& window) {
    if (window.pid <= 0 || window.pid == QCoreApplication::applicationPid() || watched_.contains(window.pid)) return;
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(window.pid), 0));
    if (fd < 0) return;
    watched_[window.pid] = fd;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    const qint64 pid = window.pid;
    const QString program = window.program();
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier, pid, program] {
        notifier->setEnabled(false);
        notifier->deleteLater();
        ::close(watched_[pid]);
        watched_.erase(pid);
        emit terminated(program);
    });
}

bool DesktopWindows::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!state_ || eventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return false;
    const auto* change = static_cast<const xcb_property_notify_event_t*>(message);
    if (change->window == state_->root && change->atom == state_->activeWindow) {
        // Not from inside Qt's event dispatch: the receivers read the display.
        QMetaObject::invokeMethod(this, &DesktopWindows::activated, Qt::QueuedConnection);
    }
    return false;
}

}  // namespace kelto
