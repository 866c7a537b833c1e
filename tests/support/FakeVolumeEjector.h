#pragma once

#include "SyncAutomation/VolumeEjectError.h"
#include "SyncAutomation/VolumeEjector.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kelto::test {

// Records the roots it is asked to eject; roots set to fail throw the
// service's message.
class FakeVolumeEjector final : public VolumeEjector {
public:
    void fail(const std::filesystem::path& volumeRoot, std::string message) {
        const std::lock_guard guard(lock_);
        failures_[volumeRoot] = std::move(message);
    }

    void eject(const std::filesystem::path& volumeRoot) override {
        const std::lock_guard guard(lock_);
        asked_.push_back(volumeRoot);
        const auto failure = failures_.find(volumeRoot);
        if (failure != failures_.end()) throw VolumeEjectError::failed(volumeRoot, failure->second);
    }

    // Every root asked for, failed ones included, in order.
    std::vector<std::filesystem::path> asked() const {
        const std::lock_guard guard(lock_);
        return asked_;
    }

private:
    mutable std::mutex lock_;
    std::map<std::filesystem::path, std::string> failures_;
    std::vector<std::filesystem::path> asked_;
};

}  // namespace kelto::test
