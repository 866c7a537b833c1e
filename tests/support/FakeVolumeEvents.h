#pragma once

#include "SyncAutomation/Async/ObserverList.h"
#include "SyncAutomation/VolumeEvents.h"

namespace kelto::test {

// Volume events the test sends by hand.
class FakeVolumeEvents final : public VolumeEvents {
public:
    Subscription observe(Executor& executor, Callback callback) override {
        return observers_.add(executor, std::move(callback));
    }
    void send(const VolumeEvent& event) { observers_.publish(event); }
    std::size_t observerCount() const { return observers_.size(); }

private:
    ObserverList<VolumeEvent> observers_;
};

}  // namespace kelto::test
