#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace kelto {

// Draws what a widget shows in colours taken from its palette (an icon, a
// tile) for the palette it has now, and again whenever that palette changes:
// the desktop may switch between light and dark while the program runs.
// An icon takes the active group's colours: Qt dims a disabled button's
// icon itself, and a disabled colour would be dimmed twice.
class PaletteFollower : public QObject {
    Q_OBJECT

public:
    using Paint = std::function<void(QWidget&)>;

    // Paints at once and after every palette change of `widget`, for as long
    // as the widget lives. A second call on the same widget replaces the paint.
    static void follow(QWidget* widget, Paint paint);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaletteFollower(QWidget* widget, Paint paint);

    QWidget* widget_;
    Paint paint_;
};

}  // namespace kelto
