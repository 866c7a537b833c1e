#pragma once

#include "FenraCore/FenraColor.h"
#include "FenraCore/FenraIcon.h"
#include "SyncModel/RunOutcome.h"

#include <QString>

namespace kelto {

// How the windows show a run's outcome: a title key, looked up in the
// application's strings, an icon and the theme colour it is drawn in. All
// three depend on the case alone, never on its message or skip reason.
struct RunOutcomeDisplay {
    static QString title(const RunOutcome& outcome);
    static FenraIcon icon(const RunOutcome& outcome);
    static const FenraColor& iconColor(const RunOutcome& outcome);
    // The key of why a run was skipped.
    static QString skipReason(SkipReason reason);
};

}  // namespace kelto
