#pragma once

#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/WorkerPool.h"

namespace kelto {

// One thread that runs posted work in order: the home of an object whose
// state only that thread touches. Destruction runs what is already posted
// (and what that posts in turn), then joins the thread; it must not be
// destroyed by work running on it.
class SerialQueue final : public Executor {
public:
    SerialQueue() : thread_(1) {}

    void post(Work work) override { thread_.post(std::move(work)); }
    bool isCurrent() const { return thread_.runsOnThisThread(); }

private:
    WorkerPool thread_;
};

}  // namespace kelto
