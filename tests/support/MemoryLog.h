#pragma once

#include "SyncEngine/RunLogSink.h"
#include "SyncModel/Support/FileIO.h"

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelto::test {

// Keeps the lines in memory; fails from the given line on, as a full disk would.
struct MemoryLog final : RunLogSink {
    std::vector<std::string> lines;
    std::size_t failFrom = SIZE_MAX;
    void writeLine(std::string_view line) override {
        if (lines.size() >= failFrom) throw FileError(ENOSPC, "Could not write the run log", "memory");
        lines.emplace_back(line);
    }
    void flush() override {}
};

}  // namespace kelto::test
