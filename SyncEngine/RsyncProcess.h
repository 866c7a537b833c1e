#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncEngine/RsyncProcessError.h"
#include "SyncEngine/RsyncRunner.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelto {

// Runs one rsync child per call and turns its output into events (the
// contract of RsyncRunner::run).
//
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
// (reaped elsewhere, e.g. with SIGCHLD ignored). Either way the runner adds
// abnormalEndLine() as a last stderr line, since rsync itself said nothing.
struct RsyncProcess final : RsyncRunner {
    static constexpr std::chrono::milliseconds killDelay{5000};
    static constexpr std::chrono::milliseconds leftoverGrace{2000};

    std::filesystem::path executable;

    RsyncProcess() = default;
    explicit RsyncProcess(std::filesystem::path executable) : executable(std::move(executable)) {}

    // What a run that rsync did not end itself says: the signal that
    // stopped it, in words, for 128 + its number; else that the end is unknown.
    static std::string abnormalEndLine(std::int32_t code);

    // Throws RsyncProcessError when the child cannot be started or watched;
    // an exception from a handler kills the process group and propagates.
    RsyncExit run(const std::vector<std::string>& arguments,
                  RsyncOutputParser::Mode mode,
                  std::stop_token stop,
                  const RawLineHandler& onRawLine,
                  const EventHandler& onEvent) const override;
    // rsync starts in the destination folder, named ".", and reaches the
    // source through a descriptor of it that it inherits (/proc/self/fd/3,
    // which holds in a PID namespace whose /proc is not its own): rsync looks a
    // destination path up again itself, link by link, so a path of its own
    // (even one through /proc) would lead under a mount made since. Only "."
    // keeps its receiver where it started: any other name, "./" too, it
    // enters by the path its start-up read as the working folder's, which by
    // then may lead onto a mount or a folder renamed into its place.
    RsyncExit runBetween(int source, int destination, const std::vector<std::string>& arguments,
                         RsyncOutputParser::Mode mode, std::stop_token stop, const RawLineHandler& onRawLine,
                         const EventHandler& onEvent) const override;
};

}  // namespace kelto
