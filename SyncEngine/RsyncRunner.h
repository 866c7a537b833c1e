#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncOutputParser.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// What the engines need of rsync: one child run per call, its output as
// events. RsyncProcess runs the real executable; tests replay scripted runs.
//
// run() blocks the calling thread until the run has ended and calls the
// handlers on that same thread, one call at a time, in arrival order. A
// handler may request the stop itself. `arguments` follow the program name.
// `onRawLine`, when set, gets every stdout and stderr line unparsed (a stdout
// chunk's raw lines come before its events); `onEvent` gets the parsed stdout
// events and each stderr line as a diagnostic. The last 50 stderr lines come
// back in the result. A stop ends the run with `cancelledCode`; a token
// already stopped on entry returns it without starting anything. Throws
// RsyncProcessError when the child cannot be started; an exception from a
// handler ends the run and propagates. May be called from several threads
// at once.
class RsyncRunner {
public:
    using RawLineHandler = std::function<void(std::string_view line)>;
    using EventHandler = std::function<void(RsyncEvent&& event)>;

    static constexpr std::int32_t cancelledCode = 20;

    virtual ~RsyncRunner() = default;

    virtual RsyncExit run(const std::vector<std::string>& arguments,
                          RsyncOutputParser::Mode mode,
                          std::stop_token stop,
                          const RawLineHandler& onRawLine,
                          const EventHandler& onEvent) const = 0;

    // A transfer whose last two arguments name its source and destination
    // folders as paths, each also open at a descriptor (checked to be the
    // folder planned on): a runner that starts rsync has it reach those very
    // folders, whatever their paths lead to by the time it looks them up.
    // One that starts nothing (a scripted one) takes the paths. Every runner
    // says which it does: one that wraps another hands the descriptors on,
    // so that a test's runner carries out the transfer as production does.
    virtual RsyncExit runBetween(int source, int destination, const std::vector<std::string>& arguments,
                                 RsyncOutputParser::Mode mode, std::stop_token stop,
                                 const RawLineHandler& onRawLine, const EventHandler& onEvent) const = 0;

protected:
    RsyncRunner() = default;
    RsyncRunner(const RsyncRunner&) = default;
    RsyncRunner& operator=(const RsyncRunner&) = default;
};

}  // namespace kelto
