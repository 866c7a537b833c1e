#pragma once

#include "Platform/Desktop/WorkspaceEvents.h"

#include <QAbstractNativeEventFilter>
#include <QRectF>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace kelto {

// The top-level windows of other programs, read from an EWMH window manager
// on X11. Wayland (XWayland included: it sees only X clients), the
// offscreen platform and X11 without such a manager list nothing: the layer
// is then unsupported, and says so in the log the first time a caller that
// needs it asks (usable()). GUI thread only.
//
// `activated` follows the manager's active window; `terminated` names a
// program once a process of a window this layer reported has exited.
class DesktopWindows : public WorkspaceEvents, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    struct Window {
        // The frame the manager draws, in device-independent pixels.
        QRectF frame;
        qint64 pid = 0;
        QString instance;
        QString className;

        // Whether the window class names one of the programs.
        bool belongsTo(const QStringList& programs) const;
        // The lower-case class, or the instance without one.
        QString program() const;
    };

    // Made on first use, after the QGuiApplication.
    static DesktopWindows& shared();
    // Asks the display now whether the layer can work, without logging.
    static bool probe();

    DesktopWindows();
    ~DesktopWindows() override;

    bool supported() const { return state_ != nullptr; }
    // supported(), and when not, a line in the log the first time.
    bool usable();
    // The active window; nothing without one.
    std::optional<Window> frontmostWindow();
    // The program of the active window; nothing without one.
    std::optional<QString> frontmostProgram();
    // Normal, viewable, not hidden windows on the current desktop, bottom
    // to top.
    std::vector<Window> windows();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    struct State;
    void watch(const Window& window);

    std::unique_ptr<State> state_;
    std::map<qint64, int> watched_;
    bool told_ = false;
};

}  // namespace kelto
