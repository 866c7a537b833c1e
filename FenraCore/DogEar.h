#pragma once

#include "FenraCore/FenraColor.h"

#include <QPainterPath>
#include <QWidget>

namespace kelto {

class DogEarEffect;

// Holds one widget, clipped to a `DogEarShape`, with the folded-over flap
// painted in the theme's coral at the top trailing corner. The flap is paint
// only: clicks go through it and it has no accessible node. Right to left,
// clip and flap are mirrored to the top-left corner.
class DogEar : public QWidget {
    Q_OBJECT

public:
    explicit DogEar(QWidget* content, double size = 12, double cornerRadius = 12, QWidget* parent = nullptr);

    QWidget* content() const { return content_; }
    double size() const { return size_; }
    double cornerRadius() const { return cornerRadius_; }
    // Where the ear sits on the corner of a larger shape (a card whose
    // corner is rounded wider than the ear), the flap is painted only within
    // that shape's outline, given in the ear's own coordinates; empty, the
    // default, paints it whole.
    void setOutline(const QPainterPath& outline);
    const QPainterPath& outline() const { return outline_; }

    // The darker half of the flap: coral 15 CIELAB units darker.
    static const FenraColor& foldShade();

private:
    QWidget* content_;
    double size_;
    double cornerRadius_;
    QPainterPath outline_;
};

}  // namespace kelto
