#pragma once

#include "SyncAutomation/VolumeEjectError.h"
#include "SyncAutomation/VolumeEjector.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kelto::test {

// Records the roots it is asked to eject; roots set to fail throw the service's message.
class FakeVolumeEjector final : public VolumeEjector {
public:
    void fail(const std::filesystem::path& volumeRoot, std::string message) {
        const std::lock_guard guard(lock_);
        failures_[volumeRoot] = std::move(message);
    }

    // Called with each root as it is asked for, before it fails or not.
    void onEject(std::function<void(const std::filesystem::path&)> hook) {
        const std::lock_guard guard(lock_);
        hook_ = std::move(hook);
    }

    void eject(const std::filesystem::path& volumeRoot) override {
        std::function<void(const std::filesystem::path&)> hook;
        {
            const std::lock_guard guard(lock_);
            asked_.push_back(volumeRoot);
            hook = hook_;
        }
        if (hook) hook(volumeRoot);
        const std::lock_guard guard(lock_);
        const auto failure = failures_.find(volumeRoot);
        if (failure != failures_.end()) throw VolumeEjectError::failed(volumeRoot, failure->second);
    }

    std::vector<std::filesystem::path> asked() const {
        const std::lock_guard guard(lock_);
        return asked_;
    }

private:
    mutable std::mutex lock_;
    std::map<std::filesystem::path, std::string> failures_;
    std::vector<std::filesystem::path> asked_;
    std::function<void(const std::filesystem::path&)> hook_;
};

}  // namespace kelto::test
