#include "FenraCore/FenraLabel.h"

#include "FenraCore/SymbolImage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace kelto {

FenraLabel::FenraLabel(const QString& title, const QString& symbolName, QWidget* parent, Named)
    : QWidget(parent), symbolName_(symbolName), icon_(new QLabel(this)), title_(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(icon_);
    layout->addWidget(title_, 1);
    title_->setTextFormat(Qt::PlainText);
    title_->setText(title);
    setAccessibleName(title);
    refreshIcon();
}

QString FenraLabel::title() const {
    return title_->text();
}

void FenraLabel::setWordWrap(bool on) {
    title_->setWordWrap(on);
    layout()->setAlignment(icon_, on ? Qt::AlignTop : Qt::Alignment());
}

void FenraLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::FontChange:
    case QEvent::EnabledChange:
        refreshIcon();
        break;
    default:
        break;
    }
}

void FenraLabel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The screen, and with it the pixel ratio, is known once shown.
    refreshIcon();
}

void FenraLabel::refreshIcon() {
    const int side = title_->fontMetrics().height();
    const QIcon icon = SymbolImage::named(symbolName_, palette().color(QPalette::WindowText));
    icon_->setFixedSize(side, side);
    icon_->setPixmap(icon.pixmap(QSize(side, side), devicePixelRatioF(), isEnabled() ? QIcon::Normal : QIcon::Disabled));
}

}  // namespace kelto
