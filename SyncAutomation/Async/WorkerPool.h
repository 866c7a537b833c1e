#pragma once

#include "SyncAutomation/Async/Executor.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace kelto {

// A few threads for blocking work (volume queries, resolutions) that must
// stay off the main thread. Posted work starts in order, runs in parallel.
// Destruction runs what is already posted, then joins the threads; it must
// not be destroyed by work running on it.
class WorkerPool final : public Executor {
public:
    explicit WorkerPool(std::size_t threads = 2);
    ~WorkerPool() override;

    void post(Work work) override;
    // True on one of the pool's own threads.
    bool runsOnThisThread() const;

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Work> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;  // last: started once the rest exists
};

}  // namespace kelto
