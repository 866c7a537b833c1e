#pragma once

#include <stop_token>

namespace kelto {

// Tells when the mount table may have changed. The Linux one is
// LinuxMountWatcher; tests signal by hand.
class MountWatcher {
public:
    virtual ~MountWatcher() = default;
    // Blocks until the table may have changed (true) or a stop is requested
    // (false).
    virtual bool wait(std::stop_token stop) = 0;
};

}  // namespace kelto
