#pragma once

#include "FenraCore/Binding.h"
#include "FenraMac/SidebarRow.h"
#include "FenraSettings/SettingsPane.h"

#include <QListView>
#include <QLocale>
#include <QPointer>

#include <optional>
#include <vector>

namespace kelto {

class SidebarModel;

// The settings sidebar: the panes it is given, in their order, gathered
// under their groups in the order the groups first appear, a 12-point gap
// before every group but the first and a heading for a group with a title;
// "No results", in the widget's locale, when it is given none.
//
// It keeps the selected row on the pane whose id the selection holds (no
// row when none shows it) and writes the pane a user picks into the
// selection. Its own changes are never written back; only pane rows can be
// picked, and a selected row cannot be cleared by clicking elsewhere. Rows
// are rebuilt at every update (panes, selection or locale) but the model is
// reset only when they differ. Gap rows are no accessibility elements.
class SettingsSidebarList : public QListView {
    Q_OBJECT

public:
    SettingsSidebarList(std::vector<SettingsPane> panes, Binding<std::optional<QString>>& selection,
                        QWidget* parent = nullptr);

    void setPanes(std::vector<SettingsPane> panes);
    const std::vector<SidebarRow>& rows() const;

    static std::vector<SidebarRow> rowsFor(const std::vector<SettingsPane>& panes, const QLocale& locale);

protected:
    void changeEvent(QEvent* event) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    // Assistive technology hears of the rows it reads: gaps are none of
    // them, so the list view's own notices, which count every row, are
    // replaced by ones that count the rows read out.
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;

private:
    void refresh();
    void writeBack();

    std::vector<SettingsPane> panes_;
    QPointer<Binding<std::optional<QString>>> selection_;
    SidebarModel* model_;
    bool updating_ = false;
};

}  // namespace kelto
