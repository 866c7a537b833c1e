#pragma once

#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/Subscription.h"

#include <functional>

namespace kelto {

// Happenings after which scheduled times must be worked out again.
enum class SystemEvent {
    wokeFromSleep,       // the machine resumed; runs may have been missed
    clockChanged,        // the wall clock was set
    timeZoneChanged,     // the system's time zone was replaced
};

// Tells observers of system events. The Linux one is LinuxSystemEvents;
// tests use FakeSystemEvents.
class SystemEvents {
public:
    using Callback = std::function<void(const SystemEvent&)>;

    virtual ~SystemEvents() = default;
    // Every event from now on reaches `callback` on `executor`, in order,
    // until the subscription ends. The executor must outlive it.
    virtual Subscription observe(Executor& executor, Callback callback) = 0;
};

}  // namespace kelto
