#pragma once

#include "SyncAutomation/MountWatcher.h"
#include "SyncModel/Support/FileDescriptor.h"

struct libmnt_monitor;

namespace kelto {

// libmount's monitor of the kernel mount table, polled together with an
// eventfd that a stop request writes to.
class LinuxMountWatcher final : public MountWatcher {
public:
    LinuxMountWatcher();
    ~LinuxMountWatcher() override;
    LinuxMountWatcher(const LinuxMountWatcher&) = delete;
    LinuxMountWatcher& operator=(const LinuxMountWatcher&) = delete;

    // False when no monitor could be set up; wait then only ends on a stop.
    bool isWatching() const { return monitor_ != nullptr; }
    bool wait(std::stop_token stop) override;

private:
    libmnt_monitor* monitor_ = nullptr;
    FileDescriptor wakeUp_;
};

}  // namespace kelto
