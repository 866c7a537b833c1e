#pragma once

#include <functional>
#include <utility>

namespace kelto {

// A handle on work posted to run later. Cancelling (or dropping the handle)
// before the work has started keeps it from ever running. Move-only.
class DelayedWork {
public:
    DelayedWork() = default;
    explicit DelayedWork(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    DelayedWork(DelayedWork&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    DelayedWork& operator=(DelayedWork&& other) noexcept {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    DelayedWork(const DelayedWork&) = delete;
    DelayedWork& operator=(const DelayedWork&) = delete;
    ~DelayedWork() { cancel(); }

    void cancel() {
        if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
    }
    explicit operator bool() const { return static_cast<bool>(cancel_); }

private:
    std::function<void()> cancel_;
};

}  // namespace kelto
