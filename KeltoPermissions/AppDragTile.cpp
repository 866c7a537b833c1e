#include "KeltoPermissions/AppDragTile.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "KeltoDesign/KeltoAppIcon.h"

#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include <cmath>

namespace kelto {

namespace {

constexpr int padding = 12;
constexpr int iconSize = 40;

QPixmap appImage(int side, qreal ratio, const QPalette& palette) {
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    KeltoAppIcon::paint(painter, QRectF(0, 0, side, side), palette);
    return pixmap;
}

}  // namespace

AppDragTile::AppDragTile(QString bundlePath, QString appName, const PermissionStrings& strings, bool allowsDrag,
                         QWidget* parent)
    : QWidget(parent), bundlePath_(std::move(bundlePath)) {
    setToolTip(bundlePath_);
    setAccessibleDescription(bundlePath_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    configure(appName, strings, allowsDrag);
}

void AppDragTile::configure(const QString& appName, const PermissionStrings& strings, bool allowsDrag) {
    appName_ = appName;
    subtitle_ = strings.string(QStringLiteral("Drag into the list"));
    allowsDrag_ = allowsDrag;
    setAccessibleName(appName_ + QStringLiteral(", ") + subtitle_);
    // A tile that cannot drag is no control at all, for the pointer as for
    // assistive technology.
    setEnabled(allowsDrag_);
    update();
}

QSize AppDragTile::sizeHint() const { return {260, iconSize + 2 * padding}; }

void AppDragTile::mousePressEvent(QMouseEvent* event) {
    if (allowsDrag_) {
        pressPoint_ = event->position();
    } else {
        pressPoint_.reset();
    }
    event->accept();
}

void AppDragTile::mouseMoveEvent(QMouseEvent* event) {
    if (!allowsDrag_ || !pressPoint_) return;
    const QPointF moved = event->position() - *pressPoint_;
    if (std::hypot(moved.x(), moved.y()) < dragThreshold) return;
    pressPoint_.reset();  // one drag per press
    startDrag();
}

void AppDragTile::mouseReleaseEvent(QMouseEvent*) { pressPoint_.reset(); }

void AppDragTile::startDrag() {
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(bundlePath_)});
    const QPixmap image = appImage(dragImageSize, devicePixelRatioF(), palette());
    const QPoint hotSpot(dragImageSize / 2, dragImageSize / 2);
    if (starter_) {
        starter_(data, image, hotSpot, Qt::CopyAction);
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->setPixmap(image);
    drag->setHotSpot(hotSpot);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void AppDragTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity());
    QPainterPath background;
    background.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(background, FenraTheme::stroke().color(palette()));

    const QRect inner = rect().adjusted(padding, padding, -padding, -padding);
    const int iconTop = inner.top() + (inner.height() - iconSize) / 2;
    KeltoAppIcon::paint(painter, QRectF(inner.left(), iconTop, iconSize, iconSize), palette());

    const QColor info = FenraTheme::info().color(palette());
    const int grip = 16;
    const QRect gripRect(inner.right() - grip, inner.top() + (inner.height() - grip) / 2, grip, grip);
    SymbolImage::icon(FenraIcon::reorder, info).paint(&painter, gripRect);

    const QFont nameFont = FenraFont::font(13, QFont::Medium);
    const QFont subtitleFont = FenraFont::font(FontRole::subheadline);
    const int textLeft = inner.left() + iconSize + 8;
    const int textWidth = gripRect.left() - 8 - textLeft;
    const int nameHeight = QFontMetrics(nameFont).height();
    const int subtitleHeight = QFontMetrics(subtitleFont).height();
    int top = inner.top() + (inner.height() - nameHeight - 4 - subtitleHeight) / 2;
    painter.setFont(nameFont);
    painter.setPen(FenraTheme::textPrimary().color(palette()));
    painter.drawText(QRect(textLeft, top, textWidth, nameHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(nameFont).elidedText(appName_, Qt::ElideRight, textWidth));
    top += nameHeight + 4;
    painter.setFont(subtitleFont);
    painter.setPen(info);
    painter.drawText(QRect(textLeft, top, textWidth, subtitleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetrics(subtitleFont).elidedText(subtitle_, Qt::ElideRight, textWidth));
}

}  // namespace kelto
