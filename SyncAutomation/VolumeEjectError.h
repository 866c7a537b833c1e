#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace kelto {

// Why a volume could not be unmounted and ejected; what() is the reason the
// run log shows after the volume's path.
class VolumeEjectError : public std::runtime_error {
public:
    enum class Code {
        serviceUnavailable,  // no disk service to ask
        notMounted,          // no disk the service knows is mounted there
        failed,              // the service refused; its own message
    };

    static VolumeEjectError serviceUnavailable(std::filesystem::path volumeRoot) {
        return VolumeEjectError(Code::serviceUnavailable, std::move(volumeRoot), "The disk service is not available");
    }
    static VolumeEjectError notMounted(std::filesystem::path volumeRoot) {
        std::string message = "No disk is mounted at " + volumeRoot.string();
        return VolumeEjectError(Code::notMounted, std::move(volumeRoot), std::move(message));
    }
    static VolumeEjectError failed(std::filesystem::path volumeRoot, std::string serviceMessage) {
        return VolumeEjectError(Code::failed, std::move(volumeRoot), std::move(serviceMessage));
    }

    Code code() const { return code_; }
    const std::filesystem::path& volumeRoot() const { return volumeRoot_; }

private:
    VolumeEjectError(Code code, std::filesystem::path volumeRoot, const std::string& message)
        : std::runtime_error(message), code_(code), volumeRoot_(std::move(volumeRoot)) {}

    Code code_;
    std::filesystem::path volumeRoot_;
};

}  // namespace kelto
