#pragma once

#include "FenraMac/MenuBarIconState.h"
#include "SyncAutomation/AppModelInterface.h"

#include <vector>

namespace kelto {

// Condenses the model into the tray picture's state: anything needing the
// user first, then a run in progress, then all quiet or all paused.
struct MenuBarIconRule {
    static MenuBarIconState state(const std::vector<SyncJob>& jobs, const AppModelInterface::StatusMap& statuses,
                                  const AppModelInterface::RecordMap& lastRecords, bool hasError);
};

}  // namespace kelto
