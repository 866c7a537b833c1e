#pragma once

#include <QAbstractButton>

namespace kelto {

// One segment of `KeltoSegmented`: its title, centred and 24 points high,
// on a kelto-yellow rounded fill while selected.
class SegmentButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(bool selected READ isSelected)

public:
    SegmentButton(const QString& title, QWidget* parent = nullptr);

    bool isSelected() const { return selected_; }
    void setSelected(bool selected);
    // The label's width at its widest weight.
    int labelWidth() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool selected_ = false;
};

}  // namespace kelto
