#pragma once

#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/Subscription.h"
#include "SyncAutomation/VolumeEvent.h"

#include <functional>

namespace kelto {

// Tells observers of volumes mounted and unmounted. VolumeMonitorEvents
// follows the volume monitor; tests use FakeVolumeEvents.
class VolumeEvents {
public:
    using Callback = std::function<void(const VolumeEvent&)>;

    virtual ~VolumeEvents() = default;
    // Every event from now on reaches `callback` on `executor`, in order,
    // until the subscription ends. The executor must outlive it.
    virtual Subscription observe(Executor& executor, Callback callback) = 0;

protected:
    VolumeEvents() = default;
    VolumeEvents(const VolumeEvents&) = default;
    VolumeEvents& operator=(const VolumeEvents&) = default;
};

}  // namespace kelto
