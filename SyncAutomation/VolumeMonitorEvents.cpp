#include "SyncAutomation/VolumeMonitorEvents.h"

#include "SyncAutomation/VolumeMonitor.h"

#include <atomic>
#include <memory>
#include <thread>

namespace kelto {

Subscription VolumeMonitorEvents::observe(Executor& executor, Callback callback) {
    struct Observer {
        explicit Observer(Callback callback) : callback(std::move(callback)) {}
        Callback callback;
        std::atomic<bool> alive{true};
    };
    auto observer = std::make_shared<Observer>(std::move(callback));
    // Subscribed here, so no event between observe() and the thread's start is lost.
    auto pull = std::make_shared<std::jthread>(
        [stream = monitor_.events(), &executor, observer](std::stop_token stop) {
            while (auto event = stream->next(stop)) {
                executor.post([observer, event = *event] {
                    if (observer->alive) observer->callback(event);
                });
            }
        });
    return Subscription([observer, pull] {
        observer->alive = false;
        pull->request_stop();
        pull->join();
    });
}

}  // namespace kelto
