#include "SyncEngine/internal/SeenOnDisk.h"

namespace kelto {

namespace {

// Where a file system does not stamp finely (ItemVersion::stampsFinely),
// what stamps within this margin of the start is not taken as before it.
constexpr std::int64_t coarseMargin = 2;

bool before(const ItemVersion& version, const timespec& start, bool fine) {
    if (!version.changed) return false;
    const std::int64_t seconds = *version.changed;
    if (!fine) return seconds + coarseMargin < static_cast<std::int64_t>(start.tv_sec);
    if (seconds != start.tv_sec) return seconds < start.tv_sec;
    return version.changedNanoseconds.value_or(0) < start.tv_nsec;
}

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

}  // namespace

SeenOnDisk::Start SeenOnDisk::Start::now() {
    // Status changes are stamped from the coarse clock, or finer: once it
    // has ticked, every earlier change stamps below the new reading. It
    // waits for a second tick too, so that a stamp a little ahead of the
    // coarse clock (a fine one, taken as the tick came) still falls below.
    timespec last{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &last);
    for (int ticks = 0; ticks < 2;) {
        timespec resolution{}, now{};
        ::clock_getres(CLOCK_REALTIME_COARSE, &resolution);
        ::nanosleep(&resolution, nullptr);  // woken early by a signal, it only looks again sooner
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (now.tv_sec != last.tv_sec || now.tv_nsec != last.tv_nsec) ++ticks;
        last = now;
    }
    const auto [real, boot] = wallAndBoot();
    return Start{last, fromNanoseconds(nanoseconds(boot) - (nanoseconds(real) - nanoseconds(last)))};
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
        auto [known, fresh] = fileSystems_.try_emplace(item->st_dev);
        if (fresh) {
            const std::optional<std::int64_t> type =
                SafeFileSystem::fileSystemType((root_ / relativePath).parent_path());
            known->second = {ItemVersion::keepsFileNumbers(type), ItemVersion::stampsFinely(type)};
        }
        return ItemVersion::of(*item, known->second.first);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

std::optional<ItemVersion> SeenOnDisk::now(const std::string& relativePath) {
    std::optional<ItemVersion> version = read(relativePath);
    if (!version) return std::nullopt;
    // Read after the lstat: a clock set back before the change it shows is seen.
    if (!before(*version, startNow(), fileSystems_.at(static_cast<dev_t>(*version->device)).second))
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
