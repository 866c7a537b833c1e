#pragma once

#include "SyncAutomation/SleepInhibitor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace kelto::test {

// Hands out a pipe's write end per inhibition; the kept read end hangs up once the holder lets go.
class FakeSleepInhibitor final : public SleepInhibitor {
public:
    void refuse(bool refusing = true) {
        const std::lock_guard guard(lock_);
        refusing_ = refusing;
    }

    std::optional<FileDescriptor> take(std::string_view reason) noexcept override {
        const std::lock_guard guard(lock_);
        reasons_.emplace_back(reason);
        int ends[2];
        if (refusing_ || ::pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
        kept_.emplace_back(ends[0]);
        return FileDescriptor(ends[1]);
    }

    // The reason of every take, refused ones included.
    std::vector<std::string> reasons() const {
        const std::lock_guard guard(lock_);
        return reasons_;
    }
    std::size_t takes() const { return reasons().size(); }
    std::size_t granted() const {
        const std::lock_guard guard(lock_);
        return kept_.size();
    }
    // The holder of the index-th granted inhibition has let go, or does within `wait`.
    bool released(std::size_t index, std::chrono::milliseconds wait = {}) const {
        int end = -1;
        {
            const std::lock_guard guard(lock_);
            if (index >= kept_.size()) return false;
            end = kept_[index].get();  // kept until the fake goes
        }
        pollfd p{end, 0, 0};
        int ready;
        do ready = ::poll(&p, 1, static_cast<int>(wait.count()));
        while (ready < 0 && errno == EINTR);
        return ready == 1 && (p.revents & POLLHUP);
    }
    std::size_t releases() const {
        std::size_t count = 0;
        for (std::size_t index = 0, all = granted(); index < all; ++index) count += released(index);
        return count;
    }

private:
    mutable std::mutex lock_;
    bool refusing_ = false;
    std::vector<std::string> reasons_;
    std::vector<FileDescriptor> kept_;
};

}  // namespace kelto::test
