#pragma once

#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/ItemVersion.h"
#include "SyncEngine/internal/SideStat.h"

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <utility>

namespace kelto {

// The versions of one side's items as an lstat shows them, read after the
// look (a dry run, a listing) that planned their deletion or replacement:
// kind, size, time to the fraction of a second and, where the file system
// keeps one for good, the file number. A version counts only where it stood
// before that look began: where this machine's kernel stamps status changes,
// its status-change time, which no user can set, is earlier than the look's
// start; elsewhere its modification time shows no save since. Anything
// changed since (saved anew, given an older time where the kernel tells) is
// no version the look compared, and a run keeps it.
class SeenOnDisk {
public:
    // The wall clock as the coarse clock that stamps changes reads it.
    using WallClock = timespec (*)();
    static timespec coarseWallClock();

    // The moment a look begins, on the clock the kernel stamps status
    // changes with.
    struct Start {
        timespec at{};
        // The same moment on the clock since boot, which no one sets: how
        // far the wall clock has fallen behind it since tells how far it was
        // set back, and a change made after the start may stamp that much
        // earlier. Zero where unknown.
        timespec sinceBoot{};
        // Waits for that clock's ticks (a few milliseconds), so that what
        // changed before the call stamps earlier than the start and what
        // changes after stamps no earlier; with a `step` (stepOf), until
        // `wall` reaches the next multiple of it, for about a step at most.
        // A stop ends the wait at once with CancellationError.
        static Start now(std::int64_t step, std::stop_token stop, WallClock wall = coarseWallClock);
    };

    SeenOnDisk(const std::filesystem::path& root, Start lookStart);

    // The item at `relativePath`; none where nothing is there, it cannot be
    // read or it changed since the look began (a run keeps what it saw no
    // version of).
    std::optional<ItemVersion> now(const std::string& relativePath);

    // The same, only while the item still shows what the listing showed.
    std::optional<ItemVersion> listed(const std::string& relativePath, const ItemVersion& listing);

    // Whether the item is still `seen`, which this class read earlier: the
    // same item, its size, time and status-change time as they were. A save
    // since, even one that puts the old time back, changes the last.
    bool unchanged(const std::string& relativePath, const ItemVersion& seen);

    // The step, in nanoseconds, of the times a side's disk stamps that may
    // tell a save after a look began: none where the kernel stamps status
    // changes; the disk's time resolution elsewhere.
    static std::int64_t stepOf(const std::filesystem::path& root);

    // Whether a version an lstat shows stood before a look that began at
    // `start`, as far as what its disk keeps can tell, the clock reading `now`.
    static bool stoodBefore(const ItemVersion& version, const timespec& start, const timespec& now,
                            const FileSystemCapabilities& disk);

private:
    // The item's version as an lstat shows it, whenever it changed.
    std::optional<ItemVersion> read(const std::string& relativePath);
    // The start, moved back by however far the wall clock was set back since.
    timespec startNow() const;

    std::filesystem::path root_;
    Start start_;
    SideStat disk_;
    // What each device's file system keeps (a mount below the root may differ).
    std::unordered_map<dev_t, FileSystemCapabilities> fileSystems_;
};

}  // namespace kelto
