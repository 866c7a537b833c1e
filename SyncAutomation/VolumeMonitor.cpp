#include "SyncAutomation/VolumeMonitor.h"

#include "Platform/System/LinuxMountWatcher.h"
#include "SyncAutomation/VolumeInspector.h"

#include <algorithm>

namespace kelto {

namespace {
// Still the same volume at the same place; a remount read-only is no new disk.
bool sameVolume(const MountedVolume& a, const MountedVolume& b) {
    return a.root == b.root && (a.identity == b.identity || a.identity.matches(b.identity));
}
bool holds(const std::vector<MountedVolume>& volumes, const MountedVolume& volume) {
    return std::any_of(volumes.begin(), volumes.end(), [&](const MountedVolume& v) { return sameVolume(v, volume); });
}
}  // namespace

VolumeMonitor::VolumeMonitor()
    : VolumeMonitor(VolumeInspector::system(), std::make_unique<LinuxMountWatcher>(), SystemClock::shared()) {}

VolumeMonitor::VolumeMonitor(const VolumeSource& source, std::unique_ptr<MountWatcher> watcher, const Clock& clock)
    : source_(source), watcher_(std::move(watcher)), clock_(clock) {
    known_ = VolumeInspector::mountedVolumes(source_);
    thread_ = std::jthread([this](std::stop_token stop) { watch(stop); });
}

VolumeMonitor::~VolumeMonitor() {
    thread_.request_stop();
    if (thread_.joinable()) thread_.join();
}

std::shared_ptr<VolumeEventStream> VolumeMonitor::events() {
    auto stream = std::make_shared<VolumeEventStream>();
    const std::lock_guard lock(mutex_);
    std::erase_if(streams_, [](const auto& weak) { return weak.expired(); });
    streams_.push_back(stream);
    return stream;
}

std::optional<Date> VolumeMonitor::firstSeen(const std::filesystem::path& mountPoint) const {
    const std::lock_guard lock(mutex_);
    const auto found = firstSeen_.find(mountPoint);
    if (found == firstSeen_.end()) return std::nullopt;
    return found->second;
}

void VolumeMonitor::publish(const VolumeEvent& event) {
    std::vector<std::shared_ptr<VolumeEventStream>> live;
    {
        const std::lock_guard lock(mutex_);
        if (event.kind == VolumeEvent::Case::mounted)
            firstSeen_[event.url] = clock_.now();
        else
            firstSeen_.erase(event.url);
        std::erase_if(streams_, [](const auto& weak) { return weak.expired(); });
        for (const auto& weak : streams_)
            if (auto stream = weak.lock()) live.push_back(std::move(stream));
    }
    for (const auto& stream : live) stream->push(event);
}

void VolumeMonitor::watch(std::stop_token stop) {
    while (watcher_->wait(stop)) {
        std::vector<MountedVolume> now;
        try {
            now = VolumeInspector::mountedVolumes(source_);
        } catch (...) {
            continue;  // a table that cannot be read now is read at the next change
        }
        // Another volume at a known mount point counts as one going and one coming.
        for (const MountedVolume& old : known_)
            if (!holds(now, old)) publish(VolumeEvent::unmounted(old.root));
        for (const MountedVolume& fresh : now)
            if (!holds(known_, fresh)) publish(VolumeEvent::mounted(fresh.root));
        known_ = std::move(now);
    }
}

}  // namespace kelto
