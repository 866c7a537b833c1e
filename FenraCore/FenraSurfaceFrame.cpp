#include "FenraCore/FenraSurfaceFrame.h"

#include "FenraCore/Appearance.h"
#include "FenraCore/FenraChrome.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/SurfaceMaterial.h"
#include "FenraCore/internal/SurfaceBorder.h"

#include <QEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace kelto {

FenraSurfaceFrame::FenraSurfaceFrame(FenraSurface role, InsettableShape shape, bool interactive, QWidget* content,
                                     QWidget* parent)
    : QWidget(parent),
      role_(role),
      shape_(std::move(shape)),
      interactive_(interactive),
      content_(content),
      border_(new SurfaceBorder(*this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    border_->raise();
    connect(&FenraPreferences::shared(), &FenraPreferences::changed, this, &FenraSurfaceFrame::refresh);
    refresh();
}

SurfaceRendering FenraSurfaceFrame::rendering() const {
    return SurfaceRenderings::resolve(SurfaceRenderings::hostSystemVersion, false,
                                      FenraPreferences::shared().reduceTransparency());
}

bool FenraSurfaceFrame::hasBorder() const {
    return SurfaceRenderings::hasBorder(rendering(), FenraPreferences::shared().increaseContrast());
}

void FenraSurfaceFrame::paintEvent(QPaintEvent*) {
    QColor fill;
    switch (rendering()) {
    case SurfaceRendering::glass:  // never available here: drawn as material
    case SurfaceRendering::material:
        fill = SurfaceMaterials::color(SurfaceMaterials::of(role_, Appearance::scheme(palette())), palette());
        break;
    case SurfaceRendering::solid:
        fill = FenraChrome::windowBackground(palette());
        break;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(shape_.path(rect()), fill);
}

void FenraSurfaceFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    border_->setGeometry(rect());
}

void FenraSurfaceFrame::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        refresh();
    }
}

void FenraSurfaceFrame::refresh() {
    border_->setVisible(hasBorder());
    border_->raise();
    update();
    border_->update();
}

}  // namespace kelto
