#pragma once

#include "SyncModel/Support/Uuid.h"

#include <cstdint>
#include <filesystem>
#include <stop_token>
#include <vector>

namespace kelto {

// How many bytes a job's archived files take on its roots. A root counts
// only where the job's archive tree exists; only regular files add their
// size, no symbolic link is followed, and whatever cannot be read is left
// out without a message. Keeps a running total, never a list of the files.
struct ArchiveSize {
    static std::int64_t total(const std::vector<std::filesystem::path>& roots, const Uuid& jobID,
                              std::stop_token stop = {});
};

}  // namespace kelto
