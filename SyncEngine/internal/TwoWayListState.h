#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/SideListing.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncModel/Support/Clock.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// One side's listing while rsync prints it, shared between the listing call
// and rsync's output handler. Every field but `lock` is touched only with
// `lock` held; reports go out after releasing it.
class TwoWayListState {
public:
    using ProgressHandler = std::function<void(const SyncProgress&)>;

    static constexpr double reportInterval = 0.1;

    TwoWayListState(std::int64_t offset, ProgressHandler onProgress, const Clock& clock);
    TwoWayListState(const TwoWayListState&) = delete;
    TwoWayListState& operator=(const TwoWayListState&) = delete;

    // With `lock` held: keeps the entry under its key (a folder without its
    // final "/"; a later entry with the same key replaces an earlier one) and
    // returns a report when one is due. An entry of the reserved tree is
    // dropped.
    std::optional<SyncProgress> record(ListEntry&& entry);

    // With `lock` held: notes a line of rsync's output that is not an entry.
    // One that starts like an entry but does not parse makes the listing
    // unusable, since the entry it stood for would read as absent.
    void recordOtherLine(std::string_view line);

    // Takes the entries, then reports the final count outside the lock.
    SideListing finish();

    // A scanning report with only the path and the count set.
    static SyncProgress scanningReport(std::optional<std::string> path, std::int64_t count);

    // Whether a line begins as a listing entry does: a type letter and nine
    // permission letters, then a space.
    static bool looksLikeEntry(std::string_view line);

    std::mutex lock;
    SideListing::Builder entries;
    double lastEmission;  // monotonic seconds; minus infinity so the first entry reports at once
    std::int64_t offset;
    ProgressHandler onProgress;
    bool reporting = true;  // false while a side listed alongside another waits for its turn
    std::optional<std::string> unreadableLine;

private:
    const Clock& clock_;
};

}  // namespace kelto
