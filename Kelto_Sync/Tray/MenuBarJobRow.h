#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QWidget>

#include "Kelto_Sync/Status/DeviceDot.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/RunStatus.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/Support/Clock.h"

#include <functional>
#include <optional>

class QLabel;

namespace kelto {

class DogEar;
class FoldedTileView;
class JobRunButton;
class JobStatusSlot;
class RelativeTimestamp;

// One job in the tray's popup, on a rounded card: mode tile, name, device
// dot and run button; the status slot; then the next timed run, else when
// the last run ended. The running job's card carries a dog-ear.
class MenuBarJobRow : public QWidget {
    Q_OBJECT

public:
    // The card's measures: padding, the line of the tile, name and run
    // button (as high as the button), the status slot, the third line, and
    // the spacing between the lines. The card is as high as they make it,
    // whatever the fonts.
    static constexpr int padding = 12;
    static constexpr int lineSpacing = 8;
    static constexpr int topLineHeight = 24;
    static constexpr int slotHeight = 18;
    static constexpr int whenHeight = 16;
    static constexpr int cardHeight = 2 * padding + topLineHeight + slotHeight + whenHeight + 2 * lineSpacing;

    // What the row shows besides the job itself.
    struct State {
        std::optional<RunStatus> status;
        std::optional<RunRecord> lastRecord;
        // Only looked at while the job is enabled.
        std::optional<Date> nextRun;
        // The job that is running now.
        bool active = false;
    };

    MenuBarJobRow(SyncJob job, SyncStrings strings, std::function<void()> sync, std::function<void()> stop,
                  DeviceDot::Sources sources, const Clock& clock, QWidget* parent = nullptr);

    void setValues(const SyncJob& job, State state);

    const SyncJob& job() const { return job_; }
    bool isMarked() const;
    // The third line as read: "Next run" and the time, the relative end of
    // the last run, or empty for the blank line.
    QString whenText() const;

    QLabel* nameLabel() const { return name_; }
    DeviceDot* deviceDot() const { return dot_; }
    JobRunButton* runButton() const { return run_; }
    JobStatusSlot* statusSlot() const { return slot_; }
    DogEar* marker() const { return marker_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void elideName();
    void refreshWhen();
    void placeMarker();

    SyncJob job_;
    SyncStrings strings_;
    const Clock* clock_;
    State state_;
    FoldedTileView* tile_;
    QLabel* name_;
    DeviceDot* dot_;
    JobRunButton* run_;
    JobStatusSlot* slot_;
    QWidget* when_;
    QLabel* nextTitle_;
    QLabel* nextTime_;
    RelativeTimestamp* ended_ = nullptr;
    QLabel* blank_;
    DogEar* marker_;
};

}  // namespace kelto
