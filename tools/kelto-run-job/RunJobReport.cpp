#include "tools/kelto-run-job/RunJobReport.h"

#include "SyncAutomation/SyncPreviewError.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/TwoWayEngineError.h"

#include <iostream>

namespace kelto {

namespace {

std::string_view codeName(TwoWayEngineError::Code code) {
    using Code = TwoWayEngineError::Code;
    switch (code) {
        case Code::endpointMissing: return "endpointMissing";
        case Code::unsafePath: return "unsafePath";
        case Code::scanFailed: return "scanFailed";
        case Code::unsupportedMode: return "unsupportedMode";
        case Code::nestedEndpoints: return "nestedEndpoints";
        case Code::readOnlyEndpoint: return "readOnlyEndpoint";
        case Code::invalidRunID: return "invalidRunID";
        case Code::reservedNotFolder: return "reservedNotFolder";
        case Code::folderReplaced: return "folderReplaced";
        case Code::noRoomToHold: return "noRoomToHold";
    }
    return "unknown";
}

}  // namespace

void RunJobReport::outcome(const RunOutcome& outcome, Json& out) {
    out["outcome"] = std::string(enumName(outcome.kind));
    if (outcome.kind == RunOutcome::Case::failed || outcome.kind == RunOutcome::Case::needsReview)
        out["message"] = outcome.message;
    if (outcome.kind == RunOutcome::Case::skipped) out["reason"] = std::string(enumName(outcome.skipReason));
}

Json RunJobReport::planCounts(const SyncPlan& plan) {
    std::int64_t bytesToCopy = 0;
    for (const PlannedCopy& c : plan.copies) bytesToCopy += c.size;
    return Json{{"copies", plan.copies.size()},         {"bytesToCopy", bytesToCopy},
                {"archives", plan.archives.size()},     {"skipped", plan.skipped.size()},
                {"conflicts", plan.conflicts.size()},   {"deletionCount", plan.deletionCount},
                {"entryCountA", plan.entryCountA},      {"entryCountB", plan.entryCountB}};
}

Json RunJobReport::planLists(const SyncPlan& plan) {
    Json copies = Json::array();
    for (const PlannedCopy& c : plan.copies)
        copies.push_back({{"path", c.path}, {"size", c.size}, {"to", std::string(enumName(c.to))}});
    Json archives = Json::array();
    for (const PlannedArchive& a : plan.archives)
        archives.push_back({{"path", a.path}, {"on", std::string(enumName(a.on))}});
    Json skipped = Json::array();
    for (const SkippedFile& s : plan.skipped)
        skipped.push_back({{"path", s.path}, {"reason", std::string(enumName(s.reason))}});
    return Json{{"copies", std::move(copies)},
                {"archives", std::move(archives)},
                {"skipped", std::move(skipped)},
                {"conflicts", plan.conflicts}};
}

Json RunJobReport::exit(std::int32_t code, const std::vector<std::string>& stderrTail) {
    return Json{{"code", code}, {"stderrTail", stderrTail}};
}

Json RunJobReport::error(std::exception_ptr failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const TwoWayEngineError& e) {
        Json out{{"type", "TwoWayEngineError"}, {"code", std::string(codeName(e.code()))}, {"message", e.what()}};
        if (e.code() == TwoWayEngineError::Code::scanFailed) out["exit"] = exit(e.exitCode(), e.stderrTail());
        return out;
    } catch (const OneWayEngineError& e) {
        Json out{{"type", "OneWayEngineError"}, {"code", std::string(enumName(e.code()))}, {"message", e.what()}};
        if (e.code() == OneWayEngineError::Code::scanFailed) out["exit"] = exit(e.exitCode(), e.stderrTail());
        return out;
    } catch (const SyncPreviewError& e) {
        Json out{{"type", "SyncPreviewError"}, {"message", e.what()}};
        out["code"] = e.code() == SyncPreviewError::Code::jobNotFound ? "jobNotFound" : "unavailable";
        if (e.code() == SyncPreviewError::Code::unavailable) out["reason"] = std::string(enumName(e.reason()));
        return out;
    } catch (const std::exception& e) {
        return Json{{"type", "error"}, {"message", e.what()}};
    } catch (...) {
        return Json{{"type", "error"}, {"message", "unknown failure"}};
    }
}

void RunJobReport::print(const Json& out) {
    std::cout << out.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
}

}  // namespace kelto
