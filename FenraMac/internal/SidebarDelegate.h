#pragma once

#include <QStyledItemDelegate>

namespace kelto {

class SidebarModel;

// Paints the sidebar's rows: a pane as its 22-point tile and its title, 18
// points in from the leading edge and 10 from the trailing one, on a
// rounded highlight when selected; headings and "No results" in small
// secondary text; gaps as nothing.
class SidebarDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    SidebarDelegate(const SidebarModel& model, QObject* parent);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The rectangles of a pane row's tile and title within the row.
    static QRect tileRect(const QRect& row, Qt::LayoutDirection direction);
    static QRect titleRect(const QRect& row, Qt::LayoutDirection direction);

private:
    const SidebarModel& model_;
};

}  // namespace kelto
