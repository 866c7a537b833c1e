#pragma once

#include "SyncAutomation/Async/Executor.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace kelto {

// One thread that runs posted work in order: the home of an object whose
// state only that thread touches. Destruction runs what is already posted
// (and what that posts in turn), then joins the thread; it must not be
// destroyed by work running on it.
class SerialQueue final : public Executor {
public:
    SerialQueue();
    ~SerialQueue() override;

    void post(Work work) override;
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void loop();

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Work> queue_;
    bool stopping_ = false;
    std::thread thread_;  // last: started once the rest exists
};

}  // namespace kelto
