#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QLabel>

#include "FenraCore/IconLabel.h"

#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/VolumeEventStream.h"
#include "SyncAutomation/VolumeSource.h"
#include "SyncModel/SyncJob.h"

#include <functional>
#include <memory>

namespace kelto {

// A warning glyph beside a job whose removable device is not connected. The
// volumes are read off the GUI thread; while the dot is shown it follows
// volume events, and it holds no subscription while hidden. A dot costs no
// thread of its own: its stream nudges it on the GUI thread.
class DeviceDot : public IconLabel {
    Q_OBJECT

public:
    // Where the dot's answers come from; tests hand in fakes.
    struct Sources {
        // Runs the work off the GUI thread; the system's runs every dot's
        // work on one worker, in order.
        std::function<void(std::function<void()>)> background;
        std::function<bool(const SyncJob&)> requiresWarning;
        // A new stream of volume events.
        std::function<std::shared_ptr<VolumeEventStream>()> subscribe;

        // The system's volumes and a process-wide volume monitor.
        static Sources system();
    };

    DeviceDot(SyncJob job, SyncStrings strings, Sources sources = Sources::system(), QWidget* parent = nullptr);
    ~DeviceDot() override;

    // A changed job is evaluated afresh.
    void setJob(const SyncJob& job);
    bool requiresWarning() const { return warning_; }

    // True when a removable side is not connected; other failures to
    // resolve (network, missing folder, another disk) raise nothing.
    static bool requiresWarning(const SyncJob& job, const VolumeSource& source);

signals:
    void warningChanged(bool warning);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void evaluate();
    void apply(unsigned long long generation, bool warning);
    void refresh();
    void takeEvents();
    void unsubscribe();

    SyncJob job_;
    SyncStrings strings_;
    Sources sources_;
    bool warning_ = false;
    // Evaluations may finish out of order: the newest started wins.
    unsigned long long started_ = 0;
    unsigned long long applied_ = 0;
    std::shared_ptr<VolumeEventStream> stream_;
};

}  // namespace kelto
