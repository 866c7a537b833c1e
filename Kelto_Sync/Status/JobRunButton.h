#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QToolButton>

#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/RunStatus.h"

#include <functional>
#include <optional>

namespace kelto {

// An icon-only "Sync now" or, while the job has a status, "Stop". Never
// disabled: a paused job still syncs by hand.
class JobRunButton : public QToolButton {
    Q_OBJECT

public:
    JobRunButton(QString jobName, std::optional<RunStatus> status, bool enabled, SyncStrings strings,
                 std::function<void()> sync, std::function<void()> stop, QWidget* parent = nullptr);

    void setValues(QString jobName, std::optional<RunStatus> status, bool enabled);

    static QString title(const std::optional<RunStatus>& status, const SyncStrings& strings, const QLocale& locale);
    QString title() const { return title(status_, strings_, locale()); }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    QString jobName_;
    std::optional<RunStatus> status_;
    bool enabled_;
    SyncStrings strings_;
    std::function<void()> sync_;
    std::function<void()> stop_;
};

}  // namespace kelto
