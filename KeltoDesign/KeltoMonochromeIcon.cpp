#include "KeltoDesign/KeltoMonochromeIcon.h"

#include "FenraCore/SymbolImage.h"
#include "KeltoDesign/internal/Decoration.h"

#include <QPainter>

#include <cmath>

namespace kelto {

KeltoMonochromeIcon::KeltoMonochromeIcon(const QString& symbolName, double size, const FenraColor& tint, QWidget* parent)
    : QWidget(parent), symbolName_(symbolName), size_(size), tint_(tint) {
    Decoration::adopt(*this);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize KeltoMonochromeIcon::sizeHint() const {
    const int side = static_cast<int>(std::ceil(size_));
    return {side, side};
}

void KeltoMonochromeIcon::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF square(QRectF(rect()).center() - QPointF(size_ / 2, size_ / 2), QSizeF(size_, size_));
    SymbolImage::named(symbolName_, tint_.color(palette())).paint(&painter, square.toAlignedRect());
}

}  // namespace kelto
