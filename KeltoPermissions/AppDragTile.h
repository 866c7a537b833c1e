#pragma once

#include <QPointF>
#include <QWidget>

#include "KeltoPermissions/PermissionStrings.h"

#include <functional>
#include <optional>

class QMimeData;

namespace kelto {

// The application as something to drag into a list of allowed programs: its
// icon, name and "Drag into the list". A press followed by a move of 4
// points starts one drag of the bundle's file URL (copy only), with a
// 56-point icon centred on the pointer. Without `allowsDrag` it is drawn at
// half opacity and starts nothing.
class AppDragTile : public QWidget {
    Q_OBJECT
public:
    // Starts the drag; takes the data. QDrag::exec blocks, so tests inject
    // their own.
    using DragStarter = std::function<void(QMimeData* data, const QPixmap& image, const QPoint& hotSpot,
                                           Qt::DropActions actions)>;

    AppDragTile(QString bundlePath, QString appName, const PermissionStrings& strings, bool allowsDrag,
                QWidget* parent = nullptr);

    void configure(const QString& appName, const PermissionStrings& strings, bool allowsDrag);
    void setDragStarter(DragStarter starter) { starter_ = std::move(starter); }

    bool allowsDrag() const { return allowsDrag_; }
    const QString& bundlePath() const { return bundlePath_; }
    double opacity() const { return allowsDrag_ ? 1.0 : 0.5; }

    static constexpr double dragThreshold = 4;
    static constexpr int dragImageSize = 56;

    QSize sizeHint() const override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void startDrag();

    QString bundlePath_;
    QString appName_;
    QString subtitle_;
    bool allowsDrag_ = false;
    std::optional<QPointF> pressPoint_;
    DragStarter starter_;
};

}  // namespace kelto
