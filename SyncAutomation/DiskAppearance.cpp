#include "SyncAutomation/DiskAppearance.h"

#include "SyncAutomation/VolumeMonitor.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>
#include <string>

namespace kelto {

std::optional<Date> DiskAppearance::appearanceTime(const std::filesystem::path& mountPoint,
                                                   const VolumeMonitor* monitor,
                                                   const std::filesystem::path& udevData, const Clock& clock) {
    if (monitor)
        if (auto seen = monitor->firstSeen(mountPoint)) return seen;
    struct stat info {};
    if (::stat(mountPoint.c_str(), &info) != 0) return std::nullopt;
    return udevInitialisationTime(info.st_dev, udevData, clock);
}

std::optional<Date> DiskAppearance::udevInitialisationTime(dev_t device, const std::filesystem::path& udevData,
                                                           const Clock& clock) {
    if (major(device) == 0) return std::nullopt;  // no block device behind it
    std::ifstream in(udevData / fmt::format("b{}:{}", major(device), minor(device)));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("I:", 0) != 0) continue;
        unsigned long long microseconds = 0;
        const char* end = line.data() + line.size();
        const auto [rest, error] = std::from_chars(line.data() + 2, end, microseconds);
        if (error != std::errc() || rest != end || microseconds == 0) return std::nullopt;
        // udev stamps on the monotonic clock, which stands still while the
        // machine sleeps. Measured against the time since boot, which does
        // not, a disk can only look older than it is, never newly connected
        // after a wake.
        const double ago = clock.secondsSinceBoot() - static_cast<double>(microseconds) / 1e6;
        if (ago < 0) return std::nullopt;
        return clock.now().adding(-ago);
    }
    return std::nullopt;
}

}  // namespace kelto
