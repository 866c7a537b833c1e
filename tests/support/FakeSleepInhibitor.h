#pragma once

#include "SyncAutomation/SleepInhibitor.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

namespace kelto::test {

// Hands out the write end of a pipe for each inhibition and keeps the read
// end, which reports a hang-up once the holder has closed its end.
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
    // Granted inhibitions whose holder has let go.
    std::size_t releases() const {
        const std::lock_guard guard(lock_);
        std::size_t count = 0;
        for (const auto& end : kept_) {
            pollfd p{end.get(), 0, 0};
            if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) ++count;
        }
        return count;
    }

private:
    mutable std::mutex lock_;
    bool refusing_ = false;
    std::vector<std::string> reasons_;
    std::vector<FileDescriptor> kept_;
};

}  // namespace kelto::test
