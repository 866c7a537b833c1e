#include "SyncEngine/internal/RacyWindow.h"

#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileSystemCapabilities.h"

#include <fcntl.h>

#include <algorithm>
#include <ctime>
#include <limits>

namespace kelto {

namespace {

constexpr std::int64_t second = 1'000'000'000;
// The coarsest step of a disk that may be mounted anywhere below a side
// (FAT's), which the side's own folder does not tell.
constexpr std::int64_t coarsestBelow = 2 * second;

std::int64_t stepOf(const std::filesystem::path& root) {
    const FileDescriptor folder(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return FileSystemCapabilities::ofOpen(folder.valid() ? folder.get() : -1).timeResolution;
}

std::int64_t wallSecond() {
    timespec wall{};
    ::clock_gettime(CLOCK_REALTIME, &wall);
    return static_cast<std::int64_t>(wall.tv_sec);
}

}  // namespace

RacyWindow RacyWindow::now(const std::filesystem::path& a, const std::filesystem::path& b, std::int64_t modifyWindow) {
    // A stamp of step s made after the start lists no earlier than the
    // start's second less s (the coarse clock disks stamp from lags by a
    // tick at most), and counts as the recorded time within the window.
    const std::int64_t step = std::max({coarsestBelow, stepOf(a), stepOf(b)});
    return RacyWindow{wallSecond(), (step + second - 1) / second + std::max<std::int64_t>(modifyWindow, 0)};
}

std::int64_t RacyWindow::dueUntil() const {
    return listedAt ? wallSecond() + reach : std::numeric_limits<std::int64_t>::max();
}

}  // namespace kelto
