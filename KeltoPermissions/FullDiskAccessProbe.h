#pragma once

#include "KeltoPermissions/PermissionStatus.h"
#include "KeltoPermissions/ProbeFileAccess.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <vector>

namespace kelto {

// Whether we may read the user's protected places. Linux has no gate of its
// own for this, so the probe reads what a gate would guard: a listing means
// granted, a refusal means missing, anything else cannot be told.
struct FullDiskAccessProbe {
    // Reads the database (when given) and then lists the folders in order;
    // the first success answers granted. Otherwise missing when any refusal
    // was seen, else unverifiable. Blocks on the file system.
    static PermissionStatus status(const std::optional<std::filesystem::path>& database,
                                   const std::vector<std::filesystem::path>& directories,
                                   const ProbeFileAccess& files = ProbeFileAccess::system());
    // The user's Desktop and Documents (as the XDG user folders name them),
    // /media/$USER and /run/media/$USER, in this order.
    static std::vector<std::filesystem::path> defaultDirectories();
    // EACCES or EPERM, here or anywhere down a nested exception chain.
    static bool isPermissionError(const std::exception& error);
};

}  // namespace kelto
