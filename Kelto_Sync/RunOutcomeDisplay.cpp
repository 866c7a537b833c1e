#include "Kelto_Sync/RunOutcomeDisplay.h"

#include "FenraCore/FenraTheme.h"
#include "SyncModel/Support/Text.h"

namespace kelto {

QString RunOutcomeDisplay::title(const RunOutcome& outcome) {
    switch (outcome.kind) {
    case RunOutcome::Case::success: return QStringLiteral("Success");
    case RunOutcome::Case::completedWithWarnings: return QStringLiteral("Completed with warnings");
    case RunOutcome::Case::completedWithErrors: return QStringLiteral("Completed with errors");
    case RunOutcome::Case::failed: return QStringLiteral("Failed");
    case RunOutcome::Case::cancelled: return QStringLiteral("Cancelled");
    case RunOutcome::Case::interrupted: return QStringLiteral("Interrupted");
    case RunOutcome::Case::skipped: return QStringLiteral("Skipped");
    case RunOutcome::Case::needsReview: return QStringLiteral("Needs review");
    }
    return QStringLiteral("Failed");
}

FenraIcon RunOutcomeDisplay::icon(const RunOutcome& outcome) {
    switch (outcome.kind) {
    case RunOutcome::Case::success: return FenraIcon::success;
    case RunOutcome::Case::completedWithWarnings:
    case RunOutcome::Case::needsReview: return FenraIcon::warning;
    case RunOutcome::Case::completedWithErrors:
    case RunOutcome::Case::failed: return FenraIcon::error;
    case RunOutcome::Case::cancelled: return FenraIcon::stopped;
    case RunOutcome::Case::interrupted: return FenraIcon::interrupted;
    case RunOutcome::Case::skipped: return FenraIcon::skipped;
    }
    return FenraIcon::error;
}

const FenraColor& RunOutcomeDisplay::iconColor(const RunOutcome& outcome) {
    switch (outcome.kind) {
    case RunOutcome::Case::success: return FenraTheme::success();
    case RunOutcome::Case::completedWithWarnings:
    case RunOutcome::Case::needsReview: return FenraTheme::warning();
    case RunOutcome::Case::completedWithErrors:
    case RunOutcome::Case::failed: return FenraTheme::error();
    case RunOutcome::Case::cancelled:
    case RunOutcome::Case::interrupted:
    case RunOutcome::Case::skipped: return FenraTheme::info();
    }
    return FenraTheme::error();
}

QString RunOutcomeDisplay::skipReason(SkipReason reason) {
    switch (reason) {
    case SkipReason::deviceNotConnected: return QStringLiteral("Device not connected");
    case SkipReason::folderMissing: return QStringLiteral("Folder missing");
    case SkipReason::identityMismatch: return QStringLiteral("Different disk");
    case SkipReason::onBattery: return QStringLiteral("Running on battery");
    }
    return {};
}

std::vector<std::string> RunOutcomeDisplay::errorsBesideMessage(const RunOutcome& outcome, const RunStats& stats) {
    const bool hasMessage = outcome.kind == RunOutcome::Case::failed || outcome.kind == RunOutcome::Case::needsReview;
    std::vector<std::string> errors;
    for (const std::string& error : stats.errors) {
        if (hasMessage && Text::equal(error, outcome.message)) continue;
        errors.push_back(error);
    }
    return errors;
}

}  // namespace kelto
