#pragma once

#include <QGraphicsEffect>

namespace kelto {

class DogEar;

// Draws a dog ear's contents through its clip and paints the flap over them.
// Widgets cannot clip their children to an antialiased path, so the whole
// rendered contents are masked instead.
class DogEarEffect : public QGraphicsEffect {
    Q_OBJECT

public:
    explicit DogEarEffect(DogEar& owner);

protected:
    void draw(QPainter* painter) override;

private:
    DogEar& owner_;
};

}  // namespace kelto
