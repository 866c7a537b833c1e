#pragma once

#include "SyncAutomation/MountWatcher.h"
#include "SyncAutomation/MountedVolume.h"
#include "SyncAutomation/VolumeEventStream.h"
#include "SyncAutomation/VolumeSource.h"
#include "SyncModel/Support/Clock.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace kelto {

// Watches the mount table on a thread of its own and tells every stream
// handed out when a browsable volume is mounted or unmounted. Linux reports
// an unmount once, after the fact. Remembers when it first saw each volume
// that appeared while it watched.
class VolumeMonitor {
public:
    // The system's mount table and libmount's monitor.
    VolumeMonitor();
    VolumeMonitor(const VolumeSource& source, std::unique_ptr<MountWatcher> watcher, const Clock& clock);
    ~VolumeMonitor();
    VolumeMonitor(const VolumeMonitor&) = delete;
    VolumeMonitor& operator=(const VolumeMonitor&) = delete;

    // A new stream of its own; it lives as long as the caller holds it.
    std::shared_ptr<VolumeEventStream> events();

    // When the volume now mounted at `mountPoint` was first seen, for one
    // that appeared after the monitor started.
    std::optional<Date> firstSeen(const std::filesystem::path& mountPoint) const;

private:
    void watch(std::stop_token stop);
    void publish(const VolumeEvent& event);

    const VolumeSource& source_;
    std::unique_ptr<MountWatcher> watcher_;
    const Clock& clock_;
    std::vector<MountedVolume> known_;  // the watch thread's alone

    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<VolumeEventStream>> streams_;
    std::map<std::filesystem::path, Date> firstSeen_;

    std::jthread thread_;  // last: stopped and joined before the rest goes
};

}  // namespace kelto
