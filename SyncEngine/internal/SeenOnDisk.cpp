#include "SyncEngine/internal/SeenOnDisk.h"

#include "SyncEngine/CancellationError.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kelto {

namespace {

std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

timespec fromNanoseconds(std::int64_t n) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(n / 1'000'000'000);
    t.tv_nsec = static_cast<long>(n % 1'000'000'000);
    if (t.tv_nsec < 0) {
        t.tv_nsec += 1'000'000'000;
        --t.tv_sec;
    }
    return t;
}

// A time as (seconds, nanoseconds), compared as a pair: a count of
// nanoseconds since 1970 overflows past 2262, and a file may bear any time.
using Stamp = std::pair<std::int64_t, std::int64_t>;

Stamp stampOf(const timespec& t) { return {t.tv_sec, t.tv_nsec}; }

// The wall and boot clocks, read as near one instant as can be: a pair
// whose reads lie further apart than readGap (the process was put aside
// between them) is read again.
constexpr std::int64_t readGap = 20'000;

std::pair<timespec, timespec> wallAndBoot() {
    timespec real{}, boot{}, after{};
    for (int tries = 0;; ++tries) {
        ::clock_gettime(CLOCK_BOOTTIME, &boot);
        ::clock_gettime(CLOCK_REALTIME, &real);
        ::clock_gettime(CLOCK_BOOTTIME, &after);
        if (nanoseconds(after) - nanoseconds(boot) <= readGap || tries == 100) return {real, boot};
    }
}

std::int64_t bootNanoseconds() {
    timespec boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    return nanoseconds(boot);
}

// How much longer than a step the wait for the next step may take before
// the wall clock counts as set back: the coarse clock's lag, a late wake-up.
constexpr std::int64_t stepSlack = 100'000'000;

// Waits `duration` nanoseconds; a stop ends the wait at once, and with it
// the look, as a cancelled run ends.
void pause(std::int64_t duration, const std::stop_token& stop) {
    std::mutex lock;
    std::condition_variable_any woken;
    std::unique_lock held(lock);
    woken.wait_for(held, stop, std::chrono::nanoseconds(duration), [] { return false; });
    if (stop.stop_requested()) throw CancellationError();
}

}  // namespace

// Where this machine's kernel stamps status changes, by that stamp, which no
// one can set; a stamp without a fraction counts as the whole second it
// names. Elsewhere the status-change time is the modification time or a
// server's, which cameras, unpacking and rsync set freely: only a
// modification time after the start, and not ahead of the clock, shows a
// save since. Anything else stands as the listing saw it.
bool SeenOnDisk::stoodBefore(const ItemVersion& version, const timespec& start, const timespec& now,
                             const FileSystemCapabilities& disk) {
    if (disk.kernelStampsChange) {
        if (!version.changed) return false;
        const std::int64_t fraction = version.changedNanoseconds.value_or(0);
        const std::int64_t step =
            fraction == 0 ? std::max<std::int64_t>(disk.timeResolution, 1'000'000'000) : disk.timeResolution;
        // The stamp stands for every moment up to one step later.
        const Stamp last{*version.changed + (fraction + step) / 1'000'000'000, (fraction + step) % 1'000'000'000};
        return last <= stampOf(start);
    }
    // The step the start falls in counts as after it: a look whose start is
    // not one of this disk's steps (a disk mounted below a side, stepping
    // otherwise) cannot tell a save within that step from what stood before.
    const std::int64_t step = std::max<std::int64_t>(disk.timeResolution, 1);
    const Stamp saved{version.mtime, version.mtimeNanoseconds.value_or(0)};
    return saved < stampOf(fromNanoseconds(nanoseconds(start) / step * step)) || saved > stampOf(now);
}

std::int64_t SeenOnDisk::stepOf(const std::filesystem::path& root) {
    const FileDescriptor folder(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const FileSystemCapabilities disk = FileSystemCapabilities::ofOpen(folder.valid() ? folder.get() : -1);
    return disk.kernelStampsChange ? 0 : disk.timeResolution;
}

timespec SeenOnDisk::coarseWallClock() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return now;
}

SeenOnDisk::Start SeenOnDisk::Start::now(std::int64_t step, std::stop_token stop, WallClock wall) {
    if (stop.stop_requested()) throw CancellationError();
    // Status changes are stamped from the coarse clock, or finer: once it
    // has ticked, every earlier change stamps below the new reading. It
    // waits for a second tick too, so that a stamp a little ahead of the
    // coarse clock (a fine one, taken as the tick came) still falls below.
    timespec last = coarseWallClock(), resolution{};
    ::clock_getres(CLOCK_REALTIME_COARSE, &resolution);
    for (int ticks = 0; ticks < 2;) {
        pause(nanoseconds(resolution), stop);
        const timespec now = coarseWallClock();
        if (now.tv_sec != last.tv_sec || now.tv_nsec != last.tv_nsec) ++ticks;
        last = now;
    }
    const auto onBothClocks = [](std::int64_t at) {
        const auto [real, boot] = wallAndBoot();
        return Start{fromNanoseconds(at), fromNanoseconds(nanoseconds(boot) - (nanoseconds(real) - at))};
    };
    const Start tick = onBothClocks(nanoseconds(last));
    if (step < 1'000'000) return tick;
    // A disk that stamps in coarse steps from times anyone sets gives a save
    // made after the start a stamp of its step or later only where the
    // start is one of its steps: the look then begins at the next one, and
    // no stamp in the step the start falls in is left to guess.
    // Such disks stamp from the coarse clock, which lags the fine one by a
    // tick: it is the one waited on. The wait lasts about a step at most,
    // by the clock since boot: a wall clock set back meanwhile would hold
    // it that much longer. The look then begins at the tick, whose reading
    // on both clocks lets the set-back be seen later (startNow).
    const std::int64_t boundary = (nanoseconds(last) / step + 1) * step;
    const std::int64_t deadline = nanoseconds(tick.sinceBoot) + (boundary - nanoseconds(last)) + stepSlack;
    for (std::int64_t now = nanoseconds(wall()); now < boundary; now = nanoseconds(wall())) {
        const std::int64_t left = deadline - bootNanoseconds();
        if (left <= 0) return tick;
        pause(std::min(std::max<std::int64_t>(boundary - now, 1'000'000), left), stop);
    }
    return onBothClocks(boundary);
}

timespec SeenOnDisk::startNow() const {
    if (start_.sinceBoot.tv_sec == 0 && start_.sinceBoot.tv_nsec == 0) return start_.at;
    const auto [real, boot] = wallAndBoot();
    const std::int64_t setBack = (nanoseconds(boot) - nanoseconds(start_.sinceBoot)) -
                                 (nanoseconds(real) - nanoseconds(start_.at));
    // Each pair of reads may be off by up to readGap: only a set-back beyond
    // both is one, and the start then goes back by both as well, so that
    // the reads' gaps never move it later.
    return setBack > 2 * readGap ? fromNanoseconds(nanoseconds(start_.at) - setBack - 2 * readGap) : start_.at;
}

SeenOnDisk::SeenOnDisk(const std::filesystem::path& root, Start lookStart)
    : root_(root), start_(lookStart), disk_(root) {}

std::optional<ItemVersion> SeenOnDisk::read(const std::string& relativePath) {
    try {
        const std::optional<struct stat> item = disk_.stat(relativePath);
        if (!item) return std::nullopt;
        auto known = fileSystems_.find(item->st_dev);
        if (known == fileSystems_.end()) {
            // Asked of the item itself, as the lstat saw it (a folder mounted
            // on is its mount's); nothing is kept from an item replaced since.
            const FileDescriptor opened(::open((root_ / relativePath).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
            struct stat now {};
            if (!opened.valid() || ::fstat(opened.get(), &now) != 0 || now.st_dev != item->st_dev)
                return std::nullopt;
            known = fileSystems_.emplace(item->st_dev, FileSystemCapabilities::ofOpen(opened.get())).first;
        }
        return ItemVersion::of(*item, known->second.fileNumbersLast);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

std::optional<ItemVersion> SeenOnDisk::now(const std::string& relativePath) {
    std::optional<ItemVersion> version = read(relativePath);
    if (!version) return std::nullopt;
    // Read after the lstat: a clock set back before the change it shows is seen.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    if (!stoodBefore(*version, startNow(), now, fileSystems_.at(static_cast<dev_t>(*version->device))))
        return std::nullopt;
    return version;
}

bool SeenOnDisk::unchanged(const std::string& relativePath, const ItemVersion& seen) {
    const std::optional<ItemVersion> version = read(relativePath);
    if (!version) return false;
    const bool numbered = version->fileNumber && seen.fileNumber;
    return version->same(seen, numbered ? ItemVersion::Strictness::unchanged : ItemVersion::Strictness::alike);
}

std::optional<ItemVersion> SeenOnDisk::listed(const std::string& relativePath, const ItemVersion& listing) {
    std::optional<ItemVersion> onDisk = now(relativePath);
    if (!onDisk || !onDisk->same(listing, ItemVersion::Strictness::listed)) return std::nullopt;
    return onDisk;
}

}  // namespace kelto
