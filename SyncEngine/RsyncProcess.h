#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncEngine/RsyncProcessError.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Runs one rsync child per call and turns its output into events.
//
// run() blocks the calling thread until the child has exited and both of its
// output pipes are drained, and calls the handlers on that same thread, one
// call at a time, in arrival order. A handler may request the stop itself.
// Output that trickles in is read in batches, at most 2 ms late.
//
// The child gets the parent's environment with LC_ALL=C (fixed output
// format) and TZ=UTC0 (listing times in UTC, as the parser reads them), its
// own process group, default signal dispositions, and no descriptors but
// standard input, output and error.
//
// Stopping: when the token is stopped the process group gets SIGTERM, and
// SIGKILL `killDelay` later if the run has not ended; the result is then
// code 20. A token already stopped on entry returns code 20 without
// starting anything.
//
// Leftovers: when the child has exited but something still holds its pipes
// (a process it left behind), reading goes on for `leftoverGrace`; after that
// the process group gets SIGKILL, the pipes are closed unread, and the run
// ends with the child's own status. So a run always ends, even when the
// holder has left the group.
//
// A child killed by a signal it did not get from us reports 128 + the signal
// number, which no rsync exit code uses; -1 when its status was lost
// (reaped elsewhere, e.g. with SIGCHLD ignored).
struct RsyncProcess {
    using RawLineHandler = std::function<void(std::string_view line)>;
    using EventHandler = std::function<void(RsyncEvent&& event)>;

    static constexpr std::int32_t cancelledCode = 20;
    static constexpr std::chrono::milliseconds killDelay{5000};
    static constexpr std::chrono::milliseconds leftoverGrace{2000};

    std::filesystem::path executable;

    // `arguments` follow the program name. `onRawLine`, when set, gets every
    // stdout and stderr line unparsed (a stdout chunk's raw lines come before
    // its events); `onEvent` gets the parsed stdout events and each stderr
    // line as a diagnostic. The last 50 stderr lines come back in the result.
    // Throws RsyncProcessError when the child cannot be started; an
    // exception from a handler kills the process group and propagates.
    RsyncExit run(const std::vector<std::string>& arguments,
                  RsyncOutputParser::Mode mode,
                  std::stop_token stop,
                  const RawLineHandler& onRawLine,
                  const EventHandler& onEvent) const;
};

}  // namespace kelto
