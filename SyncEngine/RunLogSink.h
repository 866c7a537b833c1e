#pragma once

#include <string_view>

namespace kelto {

// Where an engine writes a run's log lines. The caller (the coordinator)
// owns it and closes it after the run. Either call may throw the write
// error; an engine stops writing after the first one.
class RunLogSink {
public:
    virtual ~RunLogSink() = default;
    // The line followed by a line feed. May hold the bytes back until flush().
    virtual void writeLine(std::string_view line) = 0;
    // Hands every held-back byte to the file.
    virtual void flush() = 0;
};

}  // namespace kelto
