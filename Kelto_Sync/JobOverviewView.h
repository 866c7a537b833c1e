#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QScrollArea>

#include "Kelto_Sync/StatusViewActions.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/RunStatus.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/Support/Clock.h"

#include <functional>
#include <optional>

class QDialog;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace kelto {

class AppModelAdapter;
class FittingBox;
class FoldedTileView;
class ProgressPanel;

// The job editor's Overview tab: where the job copies from and to, in which
// mode, how its last run ended, when it runs next and what it does now, with
// "Sync now", "Preview" and "Stop"; below, its three latest runs, the whole
// history in a sheet, and its archive. It shows the stored job, never the
// editor's draft, and changes nothing but through the model.
class JobOverviewView : public QScrollArea {
    Q_OBJECT

public:
    // The shell's own status widgets; an absent device dot shows nothing,
    // an absent status view the standard one.
    struct Parts {
        std::function<QWidget*(const SyncJob& job, QWidget* parent)> deviceDot;
        std::function<QWidget*(const RunStatus& status, QWidget* parent)> runStatus;

        // The shell's DeviceDot and RunStatusView on the system's volumes.
        static Parts standard(SyncStrings strings);
    };

    JobOverviewView(AppModelAdapter& model, SyncJob job, SyncStrings strings, std::function<void()> preview,
                    Parts parts = {}, StatusViewActions actions = StatusViewActions::desktop(),
                    const Clock& clock = SystemClock::shared(), QWidget* parent = nullptr);

    // The job as stored; the draft's differing and the preview being made.
    void setJob(const SyncJob& job);
    void setDirty(bool dirty);
    void setPreviewing(bool previewing);

    // The full history; the sheet is opened, not run.
    void showHistory();

protected:
    void changeEvent(QEvent* event) override;

private:
    void buildEndpoints();
    void refresh();
    void refreshLastRun(const QLocale& where);
    void refreshNextRun(const QLocale& where);
    void refreshLiveStatus();

    AppModelAdapter* model_;
    SyncJob job_;
    SyncStrings strings_;
    std::function<void()> preview_;
    Parts parts_;
    StatusViewActions actions_;
    const Clock* clock_;
    bool dirty_ = false;
    bool previewing_ = false;

    QWidget* content_;
    QWidget* endpoints_;
    QWidget* modeRow_;
    FoldedTileView* modeTile_;
    QLabel* modeTitle_;
    QLabel* modeDescription_;
    QLabel* archiveOff_;
    QWidget* lastRun_;
    std::optional<Uuid> shownRecord_;
    bool lastRunStale_ = true;
    QLabel* neverRun_;
    QLabel* paused_;
    QLabel* nextConnect_;
    QLabel* nextFire_;
    QPushButton* syncNow_;
    QPushButton* previewButton_;
    QPushButton* stop_;
    QLabel* saveFirst_;
    QWidget* preparing_;
    QLabel* preparingLabel_;
    QVBoxLayout* liveLayout_;
    ProgressPanel* progress_ = nullptr;
    QWidget* statusView_ = nullptr;
    std::optional<RunStatus::Kind> statusKind_;
    QPushButton* showAll_;
    QDialog* sheet_ = nullptr;
};

}  // namespace kelto
