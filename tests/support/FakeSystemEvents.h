#pragma once

#include "SyncAutomation/Async/ObserverList.h"
#include "SyncAutomation/SystemEvents.h"

namespace kelto::test {

// System events the test sends by hand.
class FakeSystemEvents final : public SystemEvents {
public:
    Subscription observe(Executor& executor, Callback callback) override {
        return observers_.add(executor, std::move(callback));
    }
    void send(SystemEvent event) { observers_.publish(event); }
    std::size_t observerCount() const { return observers_.size(); }

private:
    ObserverList<SystemEvent> observers_;
};

}  // namespace kelto::test
