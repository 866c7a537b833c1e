#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QWidget>

#include "Kelto_Sync/Status/DeviceDot.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/RunStatus.h"
#include "SyncModel/RunOutcome.h"
#include "SyncModel/SyncJob.h"

#include <optional>

class QLabel;

namespace kelto {

class FoldedTileView;
class JobStatusSlot;

// One job of the main window's sidebar: its mode tile, its name with the
// device dot, and its status slot. Read by assistive technology as one
// element: the name, then the caption and the mode.
class JobSidebarRow : public QWidget {
    Q_OBJECT

public:
    JobSidebarRow(SyncJob job, std::optional<RunStatus> status, std::optional<RunOutcome> outcome, SyncStrings strings,
                  DeviceDot::Sources sources = DeviceDot::Sources::system(), QWidget* parent = nullptr);

    void setValues(const SyncJob& job, std::optional<RunStatus> status, std::optional<RunOutcome> outcome);

    const SyncJob& job() const { return job_; }
    QString modeLabel() const;
    // The caption, ", " and the mode label.
    QString accessibleValue() const;

    // A selected row draws on the list's selection: its texts and glyphs take
    // the selection's text colour and appearance, and a tile that would not
    // stand out from the selection gets a ring.
    // Emphasised while the list has the focus in the active window, as the
    // list draws its selection; otherwise the selection's quieter colours.
    void setSelected(bool selected, bool emphasised = true);
    bool isSelected() const { return selected_; }

    JobStatusSlot* statusSlot() const { return slot_; }
    DeviceDot* deviceDot() const { return dot_; }

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void followSelection();

    SyncJob job_;
    SyncStrings strings_;
    FoldedTileView* tile_;
    QLabel* name_;
    DeviceDot* dot_;
    JobStatusSlot* slot_;
    bool selected_ = false;
    bool emphasised_ = true;
};

}  // namespace kelto
