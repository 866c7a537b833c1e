#pragma once

#include <filesystem>

namespace kelto {

// Unmounts the disk mounted at a volume's root and ejects or powers off its
// drive. The Linux one asks UDisks2 (UDisksVolumeEjector); tests record roots.
class VolumeEjector {
public:
    virtual ~VolumeEjector() = default;
    // Throws VolumeEjectError.
    virtual void eject(const std::filesystem::path& volumeRoot) = 0;
};

}  // namespace kelto
