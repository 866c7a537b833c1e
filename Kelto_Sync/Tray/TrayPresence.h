#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSystemTrayIcon>
#include <QWidget>

#include "Kelto_Sync/SyncStrings.h"
#include "Kelto_Sync/Tray/TrayActions.h"

#include <functional>
#include <memory>
#include <optional>

namespace kelto {

// The application's place in the desktop's tray: an icon with the tooltip
// "Kelto Sync", a context menu that is always set (some hosts deliver only
// the menu), and on a left click a frameless popup holding content made
// afresh each time it opens, at the icon or, where the host gives no icon
// geometry (the D-Bus tray), at the cursor.
class TrayPresence : public QObject {
    Q_OBJECT

public:
    using ContentFactory = std::function<QWidget*()>;

    TrayPresence(TrayActions actions, ContentFactory makeContent, SyncStrings strings = SyncStrings::application(),
                 QObject* parent = nullptr);
    ~TrayPresence() override;

    // Shows the icon. False when the desktop has no tray: nothing shows then,
    // and Qt adds the icon by itself should a tray appear later.
    bool show();
    void setIcon(const QIcon& icon) { icon_.setIcon(icon); }

    // Opens the popup, or closes it when it is open.
    void togglePopup();
    // The open popup, or null.
    QWidget* popup() const { return popup_; }

    QSystemTrayIcon& icon() { return icon_; }
    QMenu& menu() { return *menu_; }

    // Beside the anchor, on the side with more room, without covering it.
    static QPoint popupPosition(const QRect& anchor, const QSize& size, const QRect& screen);

signals:
    void popupOpened();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TrayActions actions_;
    ContentFactory makeContent_;
    std::unique_ptr<QMenu> menu_;
    QSystemTrayIcon icon_;
    QPointer<QWidget> popup_;
    // Where the open popup was placed from: it is placed again from there
    // whenever its content grows or shrinks.
    QRect anchor_;
    QRect screenArea_;
    // The corner radius the open popup's window is cut to, where the desktop
    // cannot show its corners clear.
    std::optional<double> shapedRadius_;
};

}  // namespace kelto
