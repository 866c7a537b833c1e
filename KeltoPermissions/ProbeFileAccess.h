#pragma once

#include <filesystem>

namespace kelto {

// The two file operations the Full Disk Access probe makes, so that tests
// can refuse them as the system would (a test run as root is refused
// nothing). Both throw std::system_error (or a nested chain ending in one).
class ProbeFileAccess {
public:
    virtual ~ProbeFileAccess() = default;

    // Opens the file and reads at most one byte.
    virtual void readOneByte(const std::filesystem::path& file) const = 0;
    // Lists the folder's entries.
    virtual void listFolder(const std::filesystem::path& folder) const = 0;

    static const ProbeFileAccess& system();
};

}  // namespace kelto
