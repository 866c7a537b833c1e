#include "FenraSettings/internal/PreviewFrame.h"

#include "FenraCore/FenraChrome.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FenraTheme.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace kelto {

PreviewFrame::PreviewFrame(QWidget* preview, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    if (preview != nullptr) {
        layout->addWidget(preview, 0, Qt::AlignCenter);
    }
    setMinimumSize(100, 64);
    connect(&FenraPreferences::shared(), &FenraPreferences::changed, this, qOverload<>(&QWidget::update));
}

double PreviewFrame::borderWidth() {
    return FenraPreferences::shared().increaseContrast() ? 1 : 0.5;
}

void PreviewFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(shape, FenraTheme::stroke().color(palette()));
    // The stroke lies wholly inside the shape.
    const double width = borderWidth();
    const double inset = width / 2;
    QPainterPath border;
    border.addRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), cornerRadius - inset,
                          cornerRadius - inset);
    painter.strokePath(border, QPen(FenraChrome::separator(palette()), width));
}

}  // namespace kelto
