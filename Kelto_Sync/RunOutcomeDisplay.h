#pragma once

#include "FenraCore/FenraColor.h"
#include "FenraCore/FenraIcon.h"
#include "SyncModel/RunOutcome.h"
#include "SyncModel/RunStats.h"

#include <QString>

#include <string>
#include <vector>

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
    // The run's error messages that its outcome does not already say. A
    // failure is kept among the errors too (what searches the errors finds
    // it there), and a text is shown once.
    static std::vector<std::string> errorsBesideMessage(const RunOutcome& outcome, const RunStats& stats);
};

}  // namespace kelto
