#include "SyncAutomation/RunMessages.h"

#include "SyncEngine/CancellationError.h"
#include "SyncEngine/ExitClass.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/RsyncExit.h"
#include "SyncEngine/TwoWayEngineError.h"

#include <cstdio>
#include <optional>

namespace kelto {

namespace {

// The exit of an engine's failed scan, or nothing for any other error.
std::optional<RsyncExit> scanExit(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const OneWayEngineError& e) {
        if (e.code() == OneWayEngineError::Code::scanFailed) return RsyncExit(e.exitCode(), e.stderrTail());
    } catch (const TwoWayEngineError& e) {
        if (e.code() == TwoWayEngineError::Code::scanFailed) return RsyncExit(e.exitCode(), e.stderrTail());
    } catch (...) {
    }
    return std::nullopt;
}

std::string whatOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "An unknown error occurred.";
    }
}

bool isCancellation(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const CancellationError&) {
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

std::string RunMessages::quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; continue;
        case '\'': out += "\\'"; continue;
        case '\\': out += "\\\\"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        case '\0': out += "\\0"; continue;
        default: break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[12];
            std::snprintf(escaped, sizeof escaped, "\\u{%x}", byte);
            out += escaped;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
    return out;
}

std::string RunMessages::outcomeDescription(const RunOutcome& outcome) {
    const std::string name(enumName(outcome.kind));
    switch (outcome.kind) {
    case RunOutcome::Case::failed:
    case RunOutcome::Case::needsReview: return name + "(" + quoted(outcome.message) + ")";
    case RunOutcome::Case::skipped:
        return name + "(SyncModel.SkipReason." + std::string(enumName(outcome.skipReason)) + ")";
    default: return name;
    }
}

RunOutcome RunMessages::exitOutcome(std::int32_t code, const std::vector<std::string>& stderrTail,
                                    bool skippedFiles) {
    // Checked before classing: 25 is no failure but a plan gone stale.
    if (code == inventoryChangedCode) return RunOutcome::needsReview(std::string(inventoryChanged));
    switch (exitClass(code, stderrTail)) {
    case ExitClass::success: return skippedFiles ? RunOutcome::completedWithWarnings() : RunOutcome::success();
    case ExitClass::vanished: return RunOutcome::completedWithWarnings();
    case ExitClass::partial: return RunOutcome::completedWithErrors();
    case ExitClass::cancelled: return RunOutcome::cancelled();
    case ExitClass::timeout: return RunOutcome::failed(std::string(networkTimeout));
    case ExitClass::noSpace: return RunOutcome::failed(std::string(destinationFull));
    case ExitClass::failed: break;
    }
    if (stderrTail.empty()) return RunOutcome::failed("rsync exited with code " + std::to_string(code));
    return RunOutcome::failed(stderrTail.back());
}

RunOutcome RunMessages::errorOutcome(const std::exception_ptr& error, bool cancelled) {
    if (cancelled || isCancellation(error)) return RunOutcome::cancelled();
    if (const auto exit = scanExit(error)) return exitOutcome(exit->code, exit->stderrTail, false);
    return RunOutcome::failed(whatOf(error));
}

std::string RunMessages::plainDescription(const std::exception_ptr& error) {
    const auto exit = scanExit(error);
    if (!exit) return whatOf(error);
    std::string text = "scanFailed(code: " + std::to_string(exit->code) + ", stderr: [";
    for (std::size_t i = 0; i < exit->stderrTail.size(); ++i) {
        if (i > 0) text += ", ";
        text += quoted(exit->stderrTail[i]);
    }
    return text + "])";
}

}  // namespace kelto
