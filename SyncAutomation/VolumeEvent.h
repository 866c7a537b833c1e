#pragma once

#include <filesystem>

namespace kelto {

// A volume came or went, with its mount point.
struct VolumeEvent {
    enum class Case { mounted, unmounted };

    Case kind = Case::mounted;
    std::filesystem::path url;

    static VolumeEvent mounted(std::filesystem::path url) { return {Case::mounted, std::move(url)}; }
    static VolumeEvent unmounted(std::filesystem::path url) { return {Case::unmounted, std::move(url)}; }

    friend bool operator==(const VolumeEvent&, const VolumeEvent&) = default;
};

}  // namespace kelto
