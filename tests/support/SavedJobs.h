#pragma once

#include "SyncModel/JobStore.h"

#include <vector>

namespace kelto::test {

// Makes the jobs file hold `jobs`, whatever it held, as a test sets up what
// the user has; through the store's one locked change.
inline void saveJobs(const JobStore& store, const std::vector<SyncJob>& jobs) {
    store.modify([&](std::vector<SyncJob>& list) { list = jobs; });
}

}  // namespace kelto::test
