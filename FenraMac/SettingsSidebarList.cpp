#include "FenraMac/SettingsSidebarList.h"

#include "FenraMac/FenraMacStrings.h"
#include "FenraMac/SettingsShellMetrics.h"
#include "FenraMac/internal/SidebarAccessible.h"
#include "FenraMac/internal/SidebarDelegate.h"
#include "FenraMac/internal/SidebarModel.h"

#include <QAccessible>
#include <QEvent>

#include <algorithm>

namespace kelto {

SettingsSidebarList::SettingsSidebarList(std::vector<SettingsPane> panes, Binding<std::optional<QString>>& selection,
                                         QWidget* parent)
    : QListView(parent), panes_(std::move(panes)), selection_(&selection), model_(new SidebarModel(this)) {
    static const bool accessibleInstalled = (QAccessible::installFactory(&SidebarAccessible::create), true);
    Q_UNUSED(accessibleInstalled);
    setModel(model_);
    setItemDelegate(new SidebarDelegate(*model_, this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    setViewportMargins(0, SettingsShellMetrics::listTopInset, 0, 0);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &SettingsSidebarList::writeBack);
    connect(&selection, &BindingNotifier::changed, this, &SettingsSidebarList::refresh);
    refresh();
}

void SettingsSidebarList::setPanes(std::vector<SettingsPane> panes) {
    panes_ = std::move(panes);
    refresh();
}

const std::vector<SidebarRow>& SettingsSidebarList::rows() const {
    return model_->rows();
}

std::vector<SidebarRow> SettingsSidebarList::rowsFor(const std::vector<SettingsPane>& panes, const QLocale& locale) {
    if (panes.empty()) {
        return {SidebarRow::empty(FenraMacStrings::text(QStringLiteral("No results"), locale))};
    }
    // Groups by first appearance of their id, titled by that first pane.
    std::vector<const SettingsGroup*> groups;
    for (const SettingsPane& pane : panes) {
        const bool seen = std::any_of(groups.begin(), groups.end(),
                                      [&](const SettingsGroup* group) { return group->id == pane.group.id; });
        if (!seen) {
            groups.push_back(&pane.group);
        }
    }
    std::vector<SidebarRow> rows;
    for (const SettingsGroup* group : groups) {
        if (!rows.empty()) {
            rows.push_back(SidebarRow::gap());
        }
        if (group->title) {
            rows.push_back(SidebarRow::heading(*group->title));
        }
        for (const SettingsPane& pane : panes) {
            if (pane.group.id == group->id) {
                rows.push_back(SidebarRow::pane(pane));
            }
        }
    }
    return rows;
}

void SettingsSidebarList::changeEvent(QEvent* event) {
    QListView::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refresh();
    }
}

QItemSelectionModel::SelectionFlags SettingsSidebarList::selectionCommand(const QModelIndex& index,
                                                                          const QEvent* event) const {
    // Clicks beside the pane rows, and deselecting clicks, leave the
    // selection as it is.
    if (!index.isValid() || !(model_->flags(index) & Qt::ItemIsSelectable)) {
        return QItemSelectionModel::NoUpdate;
    }
    const QItemSelectionModel::SelectionFlags command = QListView::selectionCommand(index, event);
    return command & QItemSelectionModel::Deselect ? QItemSelectionModel::NoUpdate : command;
}

void SettingsSidebarList::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        const int child = SidebarAccessible::childOfRow(*this, current.row());
        if (child >= 0) {
            QAccessibleEvent event(this, QAccessible::Focus);
            event.setChild(child);
            QAccessible::updateAccessibility(&event);
        }
    }
    QAbstractItemView::currentChanged(current, previous);
}

void SettingsSidebarList::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    if (QAccessible::isActive()) {
        const auto notify = [this](const QItemSelection& rows, QAccessible::Event kind) {
            const QModelIndex first = rows.indexes().value(0);
            const int child = first.isValid() ? SidebarAccessible::childOfRow(*this, first.row()) : -1;
            if (child < 0) return;
            QAccessibleEvent event(this, kind);
            event.setChild(child);
            QAccessible::updateAccessibility(&event);
        };
        notify(selected, QAccessible::SelectionAdd);
        notify(deselected, QAccessible::SelectionRemove);
    }
    QAbstractItemView::selectionChanged(selected, deselected);
}

void SettingsSidebarList::refresh() {
    std::vector<SidebarRow> fresh = rowsFor(panes_, locale());
    updating_ = true;
    if (fresh != model_->rows()) {
        model_->setRows(std::move(fresh));
    }
    const std::optional<QString> wanted = selection_ != nullptr ? selection_->get() : std::nullopt;
    const std::vector<SidebarRow>& rows = model_->rows();
    const auto target = std::find_if(rows.begin(), rows.end(), [&](const SidebarRow& row) {
        return row.kind == SidebarRow::Kind::pane && wanted && row.paneId == *wanted;
    });
    QItemSelectionModel* selection = selectionModel();
    if (target != rows.end()) {
        const QModelIndex index = model_->index(static_cast<int>(std::distance(rows.begin(), target)));
        const QModelIndexList selected = selection->selectedRows();
        if (selected.size() != 1 || selected.first() != index) {
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        }
    } else if (selection->hasSelection()) {
        selection->clearSelection();
    }
    updating_ = false;
}

void SettingsSidebarList::writeBack() {
    if (updating_ || selection_ == nullptr) {
        return;
    }
    const QModelIndexList selected = selectionModel()->selectedRows();
    if (selected.isEmpty()) {
        return;
    }
    const SidebarRow& row = model_->rows()[static_cast<std::size_t>(selected.first().row())];
    if (row.kind == SidebarRow::Kind::pane) {
        selection_->set(row.paneId);
    }
}

}  // namespace kelto
