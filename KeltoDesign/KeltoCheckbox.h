#pragma once

#include <QCheckBox>

namespace kelto {

// A compact check box: a 15-point rounded box, accent-filled with a check
// mark when on, then 7 points on its label. The row is at least 24 points
// high and the whole of it, gaps included, takes the click, also without a
// label. Assistive technology reads "On" or "Off" as its value, in the
// widget's language.
class KeltoCheckbox : public QCheckBox {
    Q_OBJECT

public:
    explicit KeltoCheckbox(const QString& text = {}, QWidget* parent = nullptr);

    // "On" or "Off", looked up for the widget's locale.
    QString stateText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool hitButton(const QPoint& position) const override;
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelto
