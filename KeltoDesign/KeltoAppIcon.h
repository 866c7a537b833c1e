#pragma once

#include <QWidget>

class QPainter;

namespace kelto {

// The application's icon: the colour logo on a rounded tile of the theme's
// background, both softly shadowed, sized to the largest square the widget
// holds and centred. Decoration only.
class KeltoAppIcon : public QWidget {
    Q_OBJECT

public:
    explicit KeltoAppIcon(QWidget* parent = nullptr);

    // Draws the icon centred in the rectangle, in the palette's appearance.
    static void paint(QPainter& painter, const QRectF& canvas, const QPalette& palette);

    QSize sizeHint() const override { return {128, 128}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelto
