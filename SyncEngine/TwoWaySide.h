#pragma once

#include "SyncEngine/FileSystemTraits.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kelto {

// One folder of a two-way job as the engine works on it.
struct TwoWaySide {
    std::filesystem::path root;
    FileSystemTraits traits;                // of the volume holding the folder
    std::optional<std::string> volumeUUID;  // the identity the baseline is recorded for
};

}  // namespace kelto
