#pragma once

#include "SyncAutomation/VolumeEvent.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>

namespace kelto {

// One subscriber's events, queued without limit until taken. The stream
// ends for the monitor when the subscriber lets go of it.
class VolumeEventStream {
public:
    // The next event; nothing once a stop is requested.
    std::optional<VolumeEvent> next(std::stop_token stop);
    // The next event within `timeout`; nothing when none came.
    std::optional<VolumeEvent> next(std::chrono::milliseconds timeout);

    void push(VolumeEvent event);

    // Called on the pushing thread after each push, for a subscriber that
    // takes its events when nudged rather than keeping a thread waiting in
    // next(). It must return quickly; none by default.
    void setListener(std::function<void()> listener);

private:
    std::optional<VolumeEvent> take();

    std::mutex mutex_;
    std::condition_variable_any ready_;
    std::deque<VolumeEvent> queue_;
    std::function<void()> listener_;
};

}  // namespace kelto
