#pragma once

#include "FenraCore/TemplateMark.h"
#include "FenraMac/MenuBarIconState.h"

#include <QIconEngine>

namespace kelto {

// Draws the menu-bar picture afresh for each size and pixel ratio asked of
// it, square and centred in the space given. The badges clear holes, so the
// picture is made in an image of its own before it meets any other painting.
class MenuBarIconEngine : public QIconEngine {
public:
    MenuBarIconEngine(TemplateMark mark, MenuBarIconState state);

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override;
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;
    QString key() const override;
    bool isNull() override { return false; }

private:
    QImage render(const QSize& pixels) const;

    TemplateMark mark_;
    MenuBarIconState state_;
};

}  // namespace kelto
