#pragma once

#include <QGraphicsEffect>

class QWidget;

namespace kelto {

// The ring a focused field wears: the band from its edge to `width` points
// outside, in the tint at a quarter opacity, laid over the field's
// surroundings. Nothing of the field's layout changes.
class FocusRingEffect : public QGraphicsEffect {
    Q_OBJECT

public:
    FocusRingEffect(QWidget& field, double width, double cornerRadius);

    QRectF boundingRectFor(const QRectF& rect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    QWidget& field_;
    double width_;
    double cornerRadius_;
};

}  // namespace kelto
