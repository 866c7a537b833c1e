#pragma once

#include <QAccessibleWidget>
#include <QHash>

namespace kelto {

class SettingsSidebarList;

// The sidebar as assistive technology reads it: one element per pane,
// heading or "No results" row, and none for a gap, which only spaces the
// groups apart.
class SidebarAccessible : public QAccessibleWidget {
public:
    explicit SidebarAccessible(SettingsSidebarList* list);
    ~SidebarAccessible() override;

    static QAccessibleInterface* create(const QString& className, QObject* object);
    // The element of a model row; -1 for a gap.
    static int childOfRow(const SettingsSidebarList& list, int row);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

private:
    SettingsSidebarList* list() const;
    QAccessibleInterface* rowInterface(int row) const;

    mutable QHash<int, QAccessible::Id> rows_;
};

}  // namespace kelto
