#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QWidget>

#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/RunStatus.h"
#include "SyncModel/RunOutcome.h"

#include <optional>

class QLabel;

namespace kelto {

class IconLabel;

class RunStatusView;

// What a listed job is doing: its live status, else that it is paused, else
// how its last run ended, else that it never ran.
class JobStatusSlot : public QWidget {
    Q_OBJECT

public:
    JobStatusSlot(std::optional<RunStatus> status, bool enabled, std::optional<RunOutcome> outcome,
                  SyncStrings strings, QWidget* parent = nullptr);

    void setValues(std::optional<RunStatus> status, bool enabled, std::optional<RunOutcome> outcome);

    static QString caption(const std::optional<RunStatus>& status, bool enabled,
                           const std::optional<RunOutcome>& outcome, const SyncStrings& strings,
                           const QLocale& locale);
    QString caption() const { return caption(status_, enabled_, outcome_, strings_, locale()); }

    // The live status view, while there is a status.
    RunStatusView* statusView() const { return statusView_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    std::optional<RunStatus> status_;
    bool enabled_;
    std::optional<RunOutcome> outcome_;
    SyncStrings strings_;
    QWidget* still_;
    IconLabel* glyph_;
    QLabel* text_;
    RunStatusView* statusView_ = nullptr;
};

}  // namespace kelto
