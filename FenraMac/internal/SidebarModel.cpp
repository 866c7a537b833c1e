#include "FenraMac/internal/SidebarModel.h"

#include "FenraMac/SettingsShellMetrics.h"

#include <QSize>

namespace kelto {

void SidebarModel::setRows(std::vector<SidebarRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

int SidebarModel::heightOf(const SidebarRow& row) {
    return row.kind == SidebarRow::Kind::gap ? SettingsShellMetrics::gapHeight : SettingsShellMetrics::rowHeight;
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const SidebarRow& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row.kind == SidebarRow::Kind::gap ? QVariant() : QVariant(row.text);
    case Qt::SizeHintRole:
        return QSize(0, heightOf(row));
    default:
        return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return Qt::NoItemFlags;
    }
    switch (rows_[static_cast<std::size_t>(index.row())].kind) {
    case SidebarRow::Kind::pane:
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    case SidebarRow::Kind::heading:
    case SidebarRow::Kind::empty:
        return Qt::ItemIsEnabled;
    case SidebarRow::Kind::gap:
        return Qt::NoItemFlags;
    }
    return Qt::NoItemFlags;
}

}  // namespace kelto
