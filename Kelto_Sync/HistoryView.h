#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QWidget>

#include "Kelto_Sync/StatusViewActions.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/Clock.h"

#include <cstdint>
#include <optional>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace kelto {

class AppModelAdapter;

// The finished runs of one job, newest first, one collapsible row each.
// With a limit ("Recent") it shows that many rows with dated end times;
// without ("History") every row with end times relative to now. It reads
// the history once shown and again after each new latest record of the
// job; a failed read shows its error and keeps the rows read before.
class HistoryView : public QWidget {
    Q_OBJECT

public:
    HistoryView(AppModelAdapter& model, const Uuid& jobID, std::optional<int> recentLimit, SyncStrings strings,
                StatusViewActions actions = {}, const Clock& clock = SystemClock::shared(),
                QWidget* parent = nullptr);

    const std::vector<RunRecord>& records() const { return records_; }
    const std::optional<QString>& error() const { return error_; }

signals:
    // After each read of the history, good or failed.
    void loaded();

protected:
    void changeEvent(QEvent* event) override;

private:
    void lastRecordsChanged();
    void scheduleLoad();
    void load();
    void rebuild();

    AppModelAdapter* model_;
    Uuid jobID_;
    std::optional<int> recentLimit_;
    SyncStrings strings_;
    StatusViewActions actions_;
    const Clock* clock_;

    std::optional<Uuid> latestRecord_;
    // Only the newest scheduled read runs; older ones are dropped.
    std::uint64_t generation_ = 0;
    std::vector<RunRecord> records_;
    std::optional<QString> error_;

    QLabel* header_;
    QLabel* empty_;
    QLabel* errorLabel_;
    QWidget* rows_;
    QVBoxLayout* rowLayout_;
};

}  // namespace kelto
