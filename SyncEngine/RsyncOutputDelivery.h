#pragma once

#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/RsyncLineBuffer.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncEngine/RsyncRunner.h"

#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// How every runner hands a child's two output streams to the caller's
// handlers: stdout's raw lines (when wanted) before its parsed events,
// each stderr line raw, kept for the tail and as a diagnostic event.
class RsyncOutputDelivery {
public:
    RsyncOutputDelivery(RsyncOutputParser::Mode mode, const RsyncRunner::RawLineHandler& onRawLine,
                        const RsyncRunner::EventHandler& onEvent)
        : parser_(mode), onRawLine_(onRawLine), onEvent_(onEvent) {}

    void stdoutChunk(std::string_view chunk);
    void stderrChunk(std::string_view chunk);
    // A stream's end: its unterminated last line.
    void stdoutEnd();
    void stderrEnd();
    // A line of the runner's own, delivered as if rsync had written it to stderr.
    void stderrLine(std::string_view line);
    // rsync reached a folder by `through` (a descriptor's path): its
    // messages name it as `shown` instead, the folder the user knows.
    void nameAs(std::string through, std::string shown);
    // Lines that belong in the tail without being delivered again.
    void addToTail(const std::vector<std::string>& lines);

    // The last RsyncExit::tailLimit stderr lines.
    std::vector<std::string> tail() const { return {tail_.begin(), tail_.end()}; }

private:
    void keep(std::string_view line);

    RsyncOutputParser parser_;
    RsyncLineBuffer rawStdout_;  // stdout cut into raw lines, only with a raw-line handler
    RsyncLineBuffer stderrLines_;
    std::deque<std::string> tail_;
    std::string through_, shown_;  // both with a final slash; empty: nothing renamed
    const RsyncRunner::RawLineHandler& onRawLine_;
    const RsyncRunner::EventHandler& onEvent_;
};

}  // namespace kelto
