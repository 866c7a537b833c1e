#pragma once

#include "SyncModel/RunOutcome.h"

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace kelto {

// Where a cancel from the runner, a notice that a volume is going away and
// the run's own end meet, one at a time under the control's lock. Nothing is
// ever called under that lock: an operation that makes the run stop hands
// back the cancellation for its caller to call once it returns, so a
// cancellation that comes back into the control cannot deadlock.
class RunControl {
public:
    // Stops the run's work; empty when there is nothing to call.
    using Cancellation = std::function<void()>;

    RunControl() = default;
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // The run's two folders, once resolved. A volume already reported as
    // going away that holds one of them interrupts the run now.
    Cancellation setRoots(std::vector<std::filesystem::path> roots);

    // The runner's cancel; no effect once finished.
    Cancellation cancel();

    // Stores what stops the run's work, replacing any earlier one; not once
    // finished. True when the run was already cancelled: the caller then
    // calls `cancellation` itself.
    bool setCancellation(Cancellation cancellation);

    // A volume is going away: remembered, and when it holds one of the
    // roots the run is cancelled and interrupted. No effect once finished.
    Cancellation volumeWillUnmount(const std::filesystem::path& volume);

    // The two-way transfer has ended in a way the run stands by: from now on
    // neither an unmount nor a cancel changes the outcome.
    void commit();

    // The run's end: what its outcome becomes because of an unmount
    // (interrupted) or a cancel (cancelled), if anything.
    std::optional<RunOutcome> finish();

private:
    // Whether the volume mounted at `volume` holds one of the roots.
    bool holdsRoot(const std::filesystem::path& volume) const;

    std::mutex lock_;
    std::vector<std::filesystem::path> roots_;
    std::vector<std::filesystem::path> unmountedRoots_;
    Cancellation cancellation_;
    bool cancelled_ = false;
    bool interrupted_ = false;
    bool finished_ = false;
};

}  // namespace kelto
