#pragma once

#include "FenraMac/SidebarRow.h"

#include <QAbstractListModel>

#include <vector>

namespace kelto {

// The sidebar's rows as a list model: only pane rows can be selected, and a
// gap row has no text to read out.
class SidebarModel : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    const std::vector<SidebarRow>& rows() const { return rows_; }
    // Resets the model: views drop their rows and their selection.
    void setRows(std::vector<SidebarRow> rows);
    // 12 for a gap, 34 for the rest.
    static int heightOf(const SidebarRow& row);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<SidebarRow> rows_;
};

}  // namespace kelto
