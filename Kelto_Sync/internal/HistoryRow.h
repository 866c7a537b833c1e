#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QWidget>

#include "Kelto_Sync/StatusViewActions.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/Clock.h"

#include <optional>

class QToolButton;

namespace kelto {

class FittingBox;

// One finished run: outcome, trigger and end time, and, once expanded, what
// the run did, what it left out, its errors and times, and its log.
class HistoryRow : public QWidget {
    Q_OBJECT

public:
    // `absoluteTime`: the end time as a date rather than relative to now.
    HistoryRow(const RunRecord& record, bool absoluteTime, const SyncStrings& strings,
               const StatusViewActions& actions, const Clock& clock, QWidget* parent);

    bool expanded() const;
    void setExpanded(bool expanded);

private:
    QWidget* buildDetails(const RunRecord& record, const SyncStrings& strings, const StatusViewActions& actions);

    QToolButton* disclosure_;
    QWidget* details_;
};

}  // namespace kelto
