#pragma once

#include <QPointer>
#include <QWidget>

#include "FenraCore/TileTint.h"
#include "KeltoPermissions/PermissionChecklist.h"

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace kelto {

class PermissionRow;

// The permission setup's content: a header with the progress, the items
// grouped by requirement, the host's accessory and footnote, and "Set up
// later" (Escape) and "Done" (Return, only when the checklist can finish).
// 560 wide. The list scrolls only when it is taller than `listHeightLimit`.
class PermissionChecklistView : public QWidget {
    Q_OBJECT
public:
    struct Options {
        QString title;
        QString appSymbolName;
        TileTint appTint = TileTint::cobalt;
        std::function<QWidget*(QWidget* parent)> accessory;
        std::optional<QString> footnote;
        std::function<void()> onDone;
        std::function<void()> onLater;
    };

    PermissionChecklistView(PermissionChecklist& checklist, Options options, QWidget* parent = nullptr);

    // The row that gets the primary button: the first required, then
    // recommended item not granted that has a call to action; never an
    // optional one.
    static std::optional<QString> nextItemID(const PermissionChecklist& checklist);

    void setListHeightLimit(int height);
    bool listScrolls() const;
    // Held at a height, the view keeps it whatever its rows do: the list
    // takes the room the rest leaves it, scrolling when its rows need
    // more, so the buttons stay where they are. None: the list's own height.
    void holdHeight(std::optional<int> height);

    QLabel* progressLabel() const { return progress_; }
    QPushButton* doneButton() const { return done_; }
    QPushButton* laterButton() const { return later_; }
    QScrollArea* scrollArea() const { return scroll_; }
    PermissionRow* row(const QString& id) const;
    // The section headings shown, in order.
    QStringList headings() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void rebuildSections();
    void refresh();
    void fitList();
    int listHeight() const;
    int listRoom() const;
    void scrollToFocus();

    QPointer<PermissionChecklist> checklist_;
    Options options_;
    QLabel* progress_;
    QVBoxLayout* column_ = nullptr;
    QScrollArea* scroll_;
    QWidget* sections_ = nullptr;
    std::vector<PermissionRow*> rows_;
    QStringList headings_;
    QStringList shownIDs_;
    std::optional<QString> scrolledTo_;
    int listHeightLimit_ = 520;
    std::optional<int> heldHeight_;
    QPushButton* later_;
    QPushButton* done_;
};

}  // namespace kelto
