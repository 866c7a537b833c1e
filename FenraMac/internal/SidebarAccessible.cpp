#include "FenraMac/internal/SidebarAccessible.h"

#include "FenraMac/SettingsSidebarList.h"

#include <QItemSelectionModel>
#include <QPointer>
#include <QWindow>

namespace kelto {
namespace {

// One row that is not a gap, found by its model row.
class SidebarRowAccessible : public QAccessibleInterface {
public:
    SidebarRowAccessible(SettingsSidebarList* list, int row) : list_(list), row_(row) {}

    bool isValid() const override {
        return list_ && row_ < static_cast<int>(list_->rows().size()) && entry().kind != SidebarRow::Kind::gap;
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_ ? list_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(list_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name && isValid() ? entry().text : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        const QRect area = list_->visualRect(index());
        return QRect(list_->viewport()->mapToGlobal(area.topLeft()), area.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) return state;
        const bool pane = entry().kind == SidebarRow::Kind::pane;
        state.selectable = pane;
        state.focusable = pane;
        state.selected = pane && list_->selectionModel()->isSelected(index());
        state.focused = pane && list_->hasFocus() && list_->currentIndex() == index();
        state.invisible = !list_->viewport()->rect().intersects(list_->visualRect(index()));
        return state;
    }

private:
    const SidebarRow& entry() const { return list_->rows()[static_cast<std::size_t>(row_)]; }
    QModelIndex index() const { return list_->model()->index(row_, 0); }

    QPointer<SettingsSidebarList> list_;
    int row_;
};

}  // namespace

SidebarAccessible::SidebarAccessible(SettingsSidebarList* list) : QAccessibleWidget(list, QAccessible::List) {}

SidebarAccessible::~SidebarAccessible() {
    for (const QAccessible::Id id : std::as_const(rows_)) QAccessible::deleteAccessibleInterface(id);
}

QAccessibleInterface* SidebarAccessible::create(const QString&, QObject* object) {
    auto* list = qobject_cast<SettingsSidebarList*>(object);
    return list != nullptr ? new SidebarAccessible(list) : nullptr;
}

SettingsSidebarList* SidebarAccessible::list() const { return static_cast<SettingsSidebarList*>(widget()); }

int SidebarAccessible::childOfRow(const SettingsSidebarList& list, int row) {
    const std::vector<SidebarRow>& rows = list.rows();
    if (row < 0 || row >= static_cast<int>(rows.size()) || rows[static_cast<std::size_t>(row)].kind == SidebarRow::Kind::gap) {
        return -1;
    }
    int index = 0;
    for (int before = 0; before < row; ++before) {
        if (rows[static_cast<std::size_t>(before)].kind != SidebarRow::Kind::gap) ++index;
    }
    return index;
}

int SidebarAccessible::childCount() const {
    const std::vector<SidebarRow>& rows = list()->rows();
    return static_cast<int>(std::count_if(rows.begin(), rows.end(),
                                          [](const SidebarRow& row) { return row.kind != SidebarRow::Kind::gap; }));
}

QAccessibleInterface* SidebarAccessible::child(int index) const {
    const std::vector<SidebarRow>& rows = list()->rows();
    int seen = 0;
    for (int row = 0; row < static_cast<int>(rows.size()); ++row) {
        if (rows[static_cast<std::size_t>(row)].kind == SidebarRow::Kind::gap) continue;
        if (seen++ == index) return rowInterface(row);
    }
    return nullptr;
}

int SidebarAccessible::indexOfChild(const QAccessibleInterface* child) const {
    for (auto it = rows_.cbegin(); it != rows_.cend(); ++it) {
        if (QAccessible::accessibleInterface(it.value()) == child) return childOfRow(*list(), it.key());
    }
    return -1;
}

QAccessibleInterface* SidebarAccessible::childAt(int x, int y) const {
    const QModelIndex index = list()->indexAt(list()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? child(childOfRow(*list(), index.row())) : nullptr;
}

QAccessibleInterface* SidebarAccessible::focusChild() const {
    if (!list()->hasFocus()) return nullptr;
    return child(childOfRow(*list(), list()->currentIndex().row()));
}

QAccessibleInterface* SidebarAccessible::rowInterface(int row) const {
    const auto found = rows_.constFind(row);
    if (found != rows_.constEnd()) return QAccessible::accessibleInterface(found.value());
    auto* made = new SidebarRowAccessible(list(), row);
    rows_.insert(row, QAccessible::registerAccessibleInterface(made));
    return made;
}

}  // namespace kelto
