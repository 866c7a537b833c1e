#pragma once

#include <filesystem>

namespace kelto {

// Where a stored endpoint's folder is now, or why it cannot be used.
struct EndpointResolution {
    enum class Case { available, deviceNotConnected, folderMissing, identityMismatch };

    Case kind = Case::deviceNotConnected;
    std::filesystem::path url;  // only for `available`

    static EndpointResolution available(std::filesystem::path url) { return {Case::available, std::move(url)}; }
    static EndpointResolution deviceNotConnected() { return {Case::deviceNotConnected, {}}; }
    static EndpointResolution folderMissing() { return {Case::folderMissing, {}}; }
    static EndpointResolution identityMismatch() { return {Case::identityMismatch, {}}; }

    friend bool operator==(const EndpointResolution&, const EndpointResolution&) = default;
};

}  // namespace kelto
