#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QIcon>
#include <QObject>
#include <QPalette>

#include "FenraCore/ColorScheme.h"
#include "FenraMac/MenuBarIconState.h"

namespace kelto {

class AppModelAdapter;

// The tray's picture: the sync mark with the state's badge, in the text
// colour of the desktop's light or dark, the look its panel is drawn in (the
// panel has no template images to colour it); the application's own palette
// may differ and is never read. A new icon
// is made only when what is drawn changes, progress counted in whole
// percent, since every icon sent to the tray crosses the session bus.
class TrayIconImage : public QObject {
    Q_OBJECT

public:
    explicit TrayIconImage(QObject* parent = nullptr);

    // Follows the model's jobs, statuses, records and error from now on.
    void follow(AppModelAdapter& model);

    void setState(const MenuBarIconState& state);
    // The desktop's light or dark, and the palette drawn in it.
    void setScheme(ColorScheme scheme);
    void setPalette(const QPalette& palette);

    const QIcon& icon() const { return icon_; }
    // What the icon shows, progress rounded to whole percent.
    const MenuBarIconState& drawnState() const { return drawn_; }

    // The state as drawn: progress clamped to 0–1 (not a number is 0) and
    // rounded to whole percent; other states as they are.
    static MenuBarIconState drawable(const MenuBarIconState& state);
    static QIcon render(const MenuBarIconState& state, const QColor& color);

signals:
    void iconChanged(const QIcon& icon);

private:
    void update(const MenuBarIconState& drawn, const QColor& color);

    MenuBarIconState state_ = MenuBarIconState::idle();
    MenuBarIconState drawn_ = MenuBarIconState::idle();
    QColor color_;
    QIcon icon_;
};

}  // namespace kelto
