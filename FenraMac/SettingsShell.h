#pragma once

#include "FenraCore/Binding.h"
#include "FenraSettings/SettingsPane.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <vector>

class QAction;
class QSplitter;
class QVBoxLayout;

namespace kelto {

class SettingsSearchField;
class SettingsSidebarList;

// The content of a settings window: the search field over the sidebar of
// panes, beside the selected pane.
//
// The shell owns the search query, which starts empty, and provides it to
// every row below it (`SettingsSearchQuery`). Typing narrows the sidebar to
// the panes the search finds; it never changes the selection, so the detail
// keeps its pane while the sidebar may show no selected row. The selection
// belongs to the application; the shell resolves it against all its panes
// (`SettingsSelection`, with the fallback) when first shown, when the pane
// ids change and whenever the selection is written, and writes it back only
// when the resolved id differs. The detail is built from the pane's
// `content` when the resolved id changes, not at every keystroke.
//
// Ctrl+F anywhere in the shell focuses the field and selects its text;
// Escape that no control takes clears the query. The sidebar column cannot
// collapse.
class SettingsShell : public QWidget {
    Q_OBJECT

public:
    SettingsShell(std::vector<SettingsPane> panes, Binding<QString>& selection, QString fallback,
                  QWidget* parent = nullptr);

    void setPanes(std::vector<SettingsPane> panes);
    const std::vector<SettingsPane>& panes() const { return panes_; }

    Binding<QString>& query() { return query_; }
    // The pane the detail shows, whether or not the search lists it.
    QString resolvedSelection() const;
    SettingsSearchField* searchField() const { return field_; }
    SettingsSidebarList* sidebar() const { return sidebar_; }
    QSplitter* splitter() const { return splitter_; }
    // The selected pane's content, or null when there are no panes.
    QWidget* detail() const { return detail_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QStringList ids() const;
    void resolve();
    void showSelection();
    void buildDetail(const QString& id);
    void focusSearch();
    void filterSidebar();
    void refreshTexts();

    std::vector<SettingsPane> panes_;
    QPointer<Binding<QString>> selection_;
    QString fallback_;
    Binding<QString> query_;
    Binding<std::optional<QString>> sidebarSelection_;
    SettingsSearchField* field_;
    SettingsSidebarList* sidebar_;
    QSplitter* splitter_;
    QVBoxLayout* detailLayout_;
    QAction* focusSearch_;
    QWidget* detail_ = nullptr;
    std::optional<QString> detailId_;
    bool shown_ = false;
    // While the shell itself moves the sidebar's selection.
    bool showingSelection_ = false;
};

}  // namespace kelto
