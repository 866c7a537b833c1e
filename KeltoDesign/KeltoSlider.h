#pragma once

#include "FenraCore/Binding.h"
#include "KeltoDesign/KeltoSliderScale.h"

#include <QPointer>
#include <QWidget>

#include <optional>

namespace kelto {

// A compact horizontal slider over a bound number: a 4-point track filled
// in the accent up to a 16-point thumb, 26 points high, as wide as it is
// laid out. A press or drag anywhere moves the thumb to the grid value under
// the pointer; while focused, the left and right arrows move one step down
// or up, as do the accessibility decrement and increment. Only those moves
// write the value, always within the range and on the grid: a value from
// outside the range is drawn at the nearer end and kept until then.
// `editingChanged(true)` opens each drag and `editingChanged(false)` closes
// it, also when the slider is hidden or destroyed mid-drag.
class KeltoSlider : public QWidget {
    Q_OBJECT

public:
    static constexpr int controlHeight = 26;
    static constexpr double thumbDiameter = 16;
    static constexpr double trackHeight = 4;

    // Throws std::invalid_argument where `KeltoSliderScale` does.
    KeltoSlider(Binding<double>& value, KeltoSliderScale::Range range, std::optional<double> step = std::nullopt,
                QWidget* parent = nullptr);
    ~KeltoSlider() override;

    const KeltoSliderScale& scale() const { return scale_; }
    bool isDragging() const { return dragging_; }
    // The value read through the binding (the lower bound once it is gone).
    double value() const;
    // Where the thumb is drawn at the current width.
    QRectF thumbRect() const;
    // Moves by whole steps, as the arrow keys do.
    void stepBy(int steps);
    // What assistive technology reads: "%lld percent", the number being the
    // value in hundredths for a range ending at 1 or below, else the value
    // itself, rounded; empty when that is no finite 64-bit number.
    QString accessibleValue() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void editingChanged(bool editing);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    double travel() const;
    void dragTo(double x);
    void endDrag();
    void write(double value);

    QPointer<Binding<double>> value_;
    KeltoSliderScale scale_;
    bool dragging_ = false;
};

}  // namespace kelto
