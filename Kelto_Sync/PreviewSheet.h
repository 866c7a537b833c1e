#pragma once

#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/Async/DelayedWork.h"
#include "SyncEngine/SyncPlan.h"

#include <QDialog>

#include <functional>
#include <optional>

class QHBoxLayout;
class QFrame;
class QLabel;
class QPushButton;
class QSpacerItem;
class QTimer;
class QToolButton;
class QTreeView;
class QVBoxLayout;

namespace kelto {

class IconLabel;
class MainExecutor;
class PlanDetailsModel;

// One plan before it is carried out: the copies each way, the archives on
// each side with their share of that side's entries, the skipped files and
// the conflicts, and every path under "Details". With a continue action it
// is a review of a parked run ("Cancel" on Escape, "Continue" on Return);
// without, a preview ("Close" on Escape). It calls only the actions it is
// given, once per press, and never closes itself: its owner does.
// A review whose run stopped waiting is withdrawn: it says so, and offers
// "Close" and, when given a way, "Sync again" (Return) instead of "Cancel"
// and "Continue"; it never again calls its continue action.
// A review may come on screen where the user is typing or clicking, or
// where a button of the one it replaces stood: the button that acts
// ("Continue", or "Sync again" where it took Continue's place) takes no
// press until the sheet has been on screen for `readingSeconds` with what
// it shows now (again after it was hidden, its reason arrived or it was
// withdrawn), and looks unavailable until then; a held Return is one
// press: its repeats answer nothing. "Cancel", "Close" and Escape work at
// once.
// It is never smaller than its minimum and, once open, keeps the size it
// opened with, whatever it shows: the title, the reason and the counts
// stand at its top, the buttons at its bottom edge,
// and the "Details" list, open or closed, fills the room between them.
class PreviewSheet : public QDialog {
    Q_OBJECT

public:
    static constexpr int minimumWidth = 620;
    static constexpr int minimumHeight = 460;
    static constexpr double readingSeconds = 1.0;

    // `timers` runs the reading delay; without, Qt's timers do.
    PreviewSheet(SyncPlan plan, std::optional<QString> reason, SyncStrings strings, std::function<void()> onContinue,
                 std::function<void()> onCancel, QWidget* parent = nullptr, MainExecutor* timers = nullptr);

    bool isReview() const { return static_cast<bool>(onContinue_); }
    // The run this review was for no longer waits: nothing can be continued.
    // `onSyncAgain`, when given, asks for a new run and so a fresh review.
    void withdraw(std::function<void()> onSyncAgain);
    bool isWithdrawn() const { return withdrawn_; }
    const std::optional<QString>& reason() const { return reason_; }
    // A review's reason comes with the run's record, which may follow the sheet.
    void setReason(std::optional<QString> reason);
    // "Details" opens by itself for a review or when a reason is given,
    // until the user opens or closes it; then the user's choice holds.
    bool detailsExpanded() const;
    std::optional<bool> detailsOverride() const { return detailsOverride_; }

    // A share of a side's entries in whole percent, halves away from zero;
    // 0 for a side without entries.
    static long long share(std::int64_t archives, std::int64_t entries);

    // Escape: the cancel action, nothing more.
    void reject() override;

protected:
    // The window's close button is a cancel too; the owner's own close() only closes.
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The button that acts is unavailable, and is made available
    // `readingSeconds` after the sheet is on screen with what it shows now.
    void startReading();
    void followExposure();
    void refreshTexts();
    void refreshColours();
    void applyExpansion();
    void showReason();

    std::optional<QString> reason_;
    SyncStrings strings_;
    std::function<void()> onContinue_;
    std::function<void()> onCancel_;
    std::function<void()> onSyncAgain_;
    bool withdrawn_ = false;
    MainExecutor* timers_;
    DelayedWork reading_;
    QTimer* readingTimer_ = nullptr;
    bool onScreen_ = false;
    QPushButton* acting_ = nullptr;  // Continue, or Sync again in its place
    // Return as last seen: down, and the window system's moments it last
    // came down (or repeated) and went up.
    bool returnDown_ = false;
    std::uint64_t returnDownAt_ = 0;
    std::uint64_t returnUpAt_ = 0;
    std::optional<bool> detailsOverride_;
    std::int64_t skippedCount_;
    std::int64_t conflictCount_;
    std::int64_t entryCountA_;
    std::int64_t entryCountB_;

    PlanDetailsModel* model_;
    QLabel* title_;
    // Under the title once withdrawn.
    QLabel* notice_;
    QHBoxLayout* reasonRow_;
    IconLabel* reasonIcon_ = nullptr;
    QLabel* reasonText_ = nullptr;
    QLabel* copiesLabel_;
    QLabel* archivedLabel_;
    QLabel* skippedLabel_;
    QLabel* conflictsLabel_;
    QLabel* copiesFigure_;
    QLabel* archivedFigure_;
    QLabel* skippedFigure_;
    QLabel* conflictsFigure_;
    QFrame* detailsList_;
    QToolButton* detailsToggle_;
    QTreeView* details_;
    QPushButton* cancel_ = nullptr;
    QPushButton* continue_ = nullptr;
    QPushButton* close_ = nullptr;
    QPushButton* syncAgain_ = nullptr;
    QHBoxLayout* buttons_;
    // Under a closed "Details": the list's empty room.
    QSpacerItem* filler_;
};

}  // namespace kelto
