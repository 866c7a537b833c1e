#include "SyncAutomation/VolumeEventStream.h"

namespace kelto {

std::optional<VolumeEvent> VolumeEventStream::take() {
    if (queue_.empty()) return std::nullopt;
    VolumeEvent event = std::move(queue_.front());
    queue_.pop_front();
    return event;
}

std::optional<VolumeEvent> VolumeEventStream::next(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, stop, [this] { return !queue_.empty(); });
    return take();
}

std::optional<VolumeEvent> VolumeEventStream::next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return !queue_.empty(); });
    return take();
}

void VolumeEventStream::push(VolumeEvent event) {
    std::function<void()> listener;
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(std::move(event));
        listener = listener_;
    }
    ready_.notify_all();
    if (listener) listener();
}

void VolumeEventStream::setListener(std::function<void()> listener) {
    const std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

}  // namespace kelto
