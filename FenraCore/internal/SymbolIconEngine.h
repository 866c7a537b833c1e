#pragma once

#include <QColor>
#include <QIconEngine>
#include <QSvgRenderer>

#include <memory>

namespace kelto {

// Renders one SVG symbol as an alpha mask filled with a tint, at any size
// and device pixel ratio; disabled icons are drawn faded.
class SymbolIconEngine : public QIconEngine {
public:
    SymbolIconEngine(QString symbolName, QString artworkPath, QColor tint);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
    QIconEngine* clone() const override;
    QString key() const override;
    QString iconName() override;
    bool isNull() override;

private:
    QImage render(const QSize& pixels, QIcon::Mode mode);

    QString symbolName_;
    QString artworkPath_;
    QColor tint_;
    std::unique_ptr<QSvgRenderer> renderer_;
};

}  // namespace kelto
