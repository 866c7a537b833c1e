#include "SyncAutomation/SyncPreviewError.h"

namespace kelto {

SyncPreviewError SyncPreviewError::unavailable(SkipReason reason) {
    const char* message = "";
    switch (reason) {
        case SkipReason::deviceNotConnected: message = "A disk of this job is not connected."; break;
        case SkipReason::folderMissing: message = "A folder of this job is missing."; break;
        case SkipReason::identityMismatch:
            message = "A connected disk has the name of this job's disk but is not the same disk.";
            break;
        case SkipReason::onBattery: message = "The computer is running on battery."; break;
    }
    return SyncPreviewError(Code::unavailable, reason, message);
}

SyncPreviewError SyncPreviewError::jobNotFound() {
    return SyncPreviewError(Code::jobNotFound, SkipReason::deviceNotConnected, "The job no longer exists.");
}

}  // namespace kelto
