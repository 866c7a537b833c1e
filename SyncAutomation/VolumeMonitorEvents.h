#pragma once

#include "SyncAutomation/VolumeEvents.h"

namespace kelto {

class VolumeMonitor;

// The volume monitor's events pushed to an executor: each observer gets a
// stream of its own and a thread that pulls it and posts every event. Ending
// the subscription stops and joins that thread.
class VolumeMonitorEvents final : public VolumeEvents {
public:
    explicit VolumeMonitorEvents(VolumeMonitor& monitor) : monitor_(monitor) {}

    Subscription observe(Executor& executor, Callback callback) override;

private:
    VolumeMonitor& monitor_;
};

}  // namespace kelto
