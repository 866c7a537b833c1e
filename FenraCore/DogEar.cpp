#include "FenraCore/DogEar.h"

#include "FenraCore/FenraTheme.h"
#include "FenraCore/internal/DogEarEffect.h"

#include <QVBoxLayout>

namespace kelto {

DogEar::DogEar(QWidget* content, double size, double cornerRadius, QWidget* parent)
    : QWidget(parent), content_(content), size_(size), cornerRadius_(cornerRadius) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    setGraphicsEffect(new DogEarEffect(*this));
}

void DogEar::setOutline(const QPainterPath& outline) {
    if (outline == outline_) return;
    outline_ = outline;
    update();
}

const FenraColor& DogEar::foldShade() {
    static const FenraColor shade{
        FenraTheme::coral().light.shifted(-15, 1, 0),
        FenraTheme::coral().dark.shifted(-15, 1, 0),
    };
    return shade;
}

}  // namespace kelto
