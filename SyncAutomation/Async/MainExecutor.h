#pragma once

#include "SyncAutomation/Async/DelayedWork.h"
#include "SyncAutomation/Async/Executor.h"

namespace kelto {

// The one thread that owns the application's observable state (the windows'
// thread in the application). Work posted from anywhere runs there in order;
// delayed work runs once its time has come, measured on a monotonic clock.
class MainExecutor : public Executor {
public:
    virtual DelayedWork postAfter(double seconds, Work work) = 0;
    // True on the executor's own thread.
    virtual bool isCurrent() const = 0;
};

}  // namespace kelto
