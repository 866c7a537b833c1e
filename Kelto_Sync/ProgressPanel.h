#pragma once

#include "Kelto_Sync/SyncStrings.h"
#include "SyncEngine/SyncProgress.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace kelto {

class BusyIndicator;
class LinearProgressBar;
class MiddleElidedLabel;

// The live progress of one running job: the phase, a bar, the items
// scanned, the bytes, rate, time left and files of a transfer, the item
// being copied and, when its owner gives a stop action, a "Stop" button.
// Read-only: every new progress value redraws it from the rules below, and
// rows that do not apply are hidden.
class ProgressPanel : public QWidget {
    Q_OBJECT

public:
    explicit ProgressPanel(SyncStrings strings, std::function<void()> stop = {}, QWidget* parent = nullptr);

    void setProgress(const SyncProgress& progress);
    const SyncProgress& progress() const { return progress_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();
    void refreshTint();

    SyncStrings strings_;
    std::function<void()> stop_;
    SyncProgress progress_;

    QLabel* phase_;
    QLabel* percent_;
    QPushButton* stopButton_ = nullptr;
    LinearProgressBar* bar_;
    BusyIndicator* busy_;
    QLabel* scanned_;
    QWidget* figures_;
    QLabel* bytes_;
    QLabel* rate_;
    QLabel* eta_;
    QLabel* files_;
    MiddleElidedLabel* currentPath_;
};

}  // namespace kelto
