#pragma once

#include "SyncModel/SyncJob.h"

#include <vector>

namespace kelto {

// How the editor's simple form sees a job.
struct JobPresentation {
    static bool hasSimpleTriggers(const std::vector<Trigger>& triggers);
    // 0 … 10: settings that differ from the simple preset.
    static int advancedSettingsCount(const SyncJob& job);
    static SyncJob simplified(const SyncJob& job);
};

}  // namespace kelto
