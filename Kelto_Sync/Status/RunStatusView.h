#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QWidget>

#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/RunStatus.h"

class QLabel;

namespace kelto {

class BusyIndicator;
class IconLabel;
class LinearProgressBar;

// One job's live run status on one line, in the caption font: an icon and either a bar with the
// percentage (copying with a known total) or the status text.
class RunStatusView : public QWidget {
    Q_OBJECT

public:
    RunStatusView(RunStatus status, SyncStrings strings, QWidget* parent = nullptr);

    void setStatus(const RunStatus& status);
    const RunStatus& status() const { return status_; }

    // The status as text alone, as captions use it.
    static QString text(const RunStatus& status, const SyncStrings& strings, const QLocale& locale);
    // Copying with a known total: the only case shown as a bar.
    static bool showsBar(const RunStatus& status);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    RunStatus status_;
    SyncStrings strings_;
    IconLabel* icon_;
    BusyIndicator* spinner_;
    LinearProgressBar* bar_;
    QLabel* text_;
};

}  // namespace kelto
