#pragma once

#include "Kelto_Sync/Status/DeviceDot.h"
#include "tests/views/status/StatusFixtures.h"
#include <memory>

namespace kelto {

// Device-dot sources the test drives: evaluations wait until the test runs
// them, in the order it chooses; the answer is the test's.
struct FakeDotSources {
    std::deque<std::function<void()>> pending;
    bool warning = false;
    std::weak_ptr<VolumeEventStream> stream;
    int subscriptions = 0;
    DeviceDot::Sources sources() {
        DeviceDot::Sources s;
        s.background = [this](std::function<void()> work) { pending.push_back(std::move(work)); };
        s.requiresWarning = [this](const SyncJob&) { return warning; };
        s.subscribe = [this] {
            ++subscriptions;
            auto made = std::make_shared<VolumeEventStream>();
            stream = made;
            return made;
        };
        return s;
    }
    void runAll() {
        while (!pending.empty()) {
            auto work = std::move(pending.front());
            pending.pop_front();
            work();
        }
        settle();
    }
};

inline SyncJob namedJob(const std::string& name, SyncMode mode = SyncMode::copy) {
    SyncJob job = sampleJob(mode);
    job.name = name;
    return job;
}

}  // namespace kelto
