#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kelto {

// The result of one rsync child run: its exit status (20 for a cancelled run)
// and the last lines it wrote to standard error, oldest first.
struct RsyncExit {
    static constexpr std::size_t tailLimit = 50;

    std::int32_t code = 0;
    std::vector<std::string> stderrTail;

    RsyncExit() = default;
    // Keeps only the last `tailLimit` lines.
    RsyncExit(std::int32_t code, std::vector<std::string> stderrLines);

    friend bool operator==(const RsyncExit&, const RsyncExit&) = default;
};

}  // namespace kelto
