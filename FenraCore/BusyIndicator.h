#pragma once

#include <QWidget>

class QTimer;

namespace kelto {

// The small indeterminate indicator of a task whose end is not known: an
// arc that turns around a faint ring, in the text colour, the way the
// desktop's own spinners draw it. It turns only while it is on screen.
class BusyIndicator : public QWidget {
public:
    // The control sizes: small beside a line of body text, mini beside a caption.
    static constexpr int small = 16;
    static constexpr int mini = 12;
    static constexpr int steps = 12;
    static constexpr int stepMilliseconds = 80;

    // Its size is the side, unless a larger frame is set; it is drawn in the middle.
    explicit BusyIndicator(int side = small, QWidget* parent = nullptr);

    // The turn it is drawn at, 0 to steps - 1.
    int step() const { return step_; }
    bool isTurning() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    int side_;
    int step_ = 0;
    QTimer* timer_;
};

}  // namespace kelto
