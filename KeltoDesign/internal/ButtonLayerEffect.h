#pragma once

#include "KeltoDesign/internal/DropShadow.h"

#include <QGraphicsEffect>

#include <optional>

class QWidget;

namespace kelto {

// Paints a button into a layer of its own, over the shadow of its rounded
// shape when it has one, and lays the layer down dimmed while the button is
// disabled, so the dimming covers fill, label and shadow as one. The shadow
// falls outside the button without taking layout space.
class ButtonLayerEffect : public QGraphicsEffect {
    Q_OBJECT

public:
    ButtonLayerEffect(QWidget& button, std::optional<DropShadow> shadow, double cornerRadius, double disabledOpacity);

    QRectF boundingRectFor(const QRectF& rect) const override;

protected:
    void draw(QPainter* painter) override;

private:
    QWidget& button_;
    std::optional<DropShadow> shadow_;
    double cornerRadius_;
    double disabledOpacity_;
};

}  // namespace kelto
