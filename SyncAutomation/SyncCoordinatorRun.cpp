#include "SyncAutomation/SyncCoordinator.h"

#include "SyncAutomation/JobLock.h"
#include "SyncAutomation/RunLog.h"
#include "SyncAutomation/RunMessages.h"
#include "SyncAutomation/SleepAssertion.h"
#include "SyncEngine/ArchivePruner.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/PlanReview.h"
#include "SyncEngine/SafetyGuard.h"
#include "SyncEngine/TwoWayEngine.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace kelto {

namespace fs = std::filesystem;

namespace {

void report(const RunExecuting::ProgressCallback& progress, SyncPhase phase) {
    if (!progress) return;
    SyncProgress only;
    only.phase = phase;
    progress(only);
}

void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested()) throw CancellationError();
}

std::string_view abortText(AbortReason reason) {
    switch (reason) {
        case AbortReason::emptySource: return RunMessages::emptySource;
        case AbortReason::emptySide: return RunMessages::emptySide;
        case AbortReason::insufficientSpace: return RunMessages::insufficientSpace;
    }
    return RunMessages::insufficientSpace;
}

bool copiesTo(const SyncPlan& plan, Side side) {
    return std::any_of(plan.copies.begin(), plan.copies.end(), [&](const PlannedCopy& copy) { return copy.to == side; });
}

// The sides that may hold new archives after this run: the destination of a
// one-way job; each side of a two-way job that received, archived or lost
// anything.
std::vector<fs::path> pruningRoots(const SyncCoordinator::ResolvedJob& resolved, const TwoWayPlan* twoWay) {
    if (!twoWay) return {resolved.b};
    std::vector<fs::path> roots;
    if (!twoWay->copyBtoA.empty() || !twoWay->archiveOnA.empty() || !twoWay->removeDirsOnA.empty())
        roots.push_back(resolved.a);
    if (!twoWay->copyAtoB.empty() || !twoWay->archiveOnB.empty() || !twoWay->removeDirsOnB.empty())
        roots.push_back(resolved.b);
    return roots;
}

// The roots of the volumes that are not the machine's own, once each, in
// path order.
std::vector<fs::path> ejectRoots(const SyncCoordinator::ResolvedJob& resolved) {
    std::vector<fs::path> roots;
    for (const auto& [endpoint, folder] : {std::pair{&resolved.job.source, &resolved.a},
                                           std::pair{&resolved.job.destination, &resolved.b}}) {
        if (endpoint->volume.kind == VolumeKind::internal) continue;
        if (const MountedVolume* holder = SyncCoordinator::volumeHolding(resolved.mounted, *folder))
            roots.push_back(holder->root);
    }
    std::sort(roots.begin(), roots.end(), [](const fs::path& x, const fs::path& y) { return x.native() < y.native(); });
    roots.erase(std::unique(roots.begin(), roots.end()), roots.end());
    return roots;
}

// A record for a run that ended before it began: no log, no history.
RunResult endedAtOnce(const Uuid& jobID, RunTrigger trigger, Date startedAt, Date endedAt, std::string message) {
    RunRecord record;
    record.id = Uuid::random();
    record.jobID = jobID;
    record.trigger = trigger;
    record.startedAt = startedAt;
    record.endedAt = endedAt;
    record.outcome = RunOutcome::failed(message);
    record.stats.errors.push_back(std::move(message));
    return {std::move(record), std::nullopt};
}

}  // namespace

RunResult SyncCoordinator::run(const Uuid& jobID, RunTrigger trigger, const SyncPlan* reviewed,
                               const ProgressCallback& progress, std::stop_token stop) {
    const Uuid token = Uuid::random();
    const auto control = std::make_shared<RunControl>();
    active_.insert(token, control);

    // The work's own stop. Only the control's cancellation requests it, so a
    // stop from the caller and an unmount reach the work the same way, and
    // a stop that came before the cancellation was stored is kept by the
    // control and handed back here.
    std::stop_source work;
    std::optional<RunResult> result;
    {
        const std::stop_callback cancelFromCaller(stop, [&control] {
            if (const RunControl::Cancellation cancellation = control->cancel()) cancellation();
        });
        if (control->setCancellation([work]() mutable { work.request_stop(); })) work.request_stop();
        try {
            result = runBody({jobID, trigger, reviewed, progress}, *control, work.get_token());
        } catch (const std::exception& e) {
            // Nothing of the run body throws but the making of the run's
            // identifier and running out of memory.
            control->finish();
            const Date now = services_.clock.now();
            result = endedAtOnce(jobID, trigger, now, now, e.what());
        }
    }
    active_.remove(token);
    return std::move(*result);
}

RunResult SyncCoordinator::runBody(const Request& request, RunControl& control, std::stop_token stop) {
    const Date startedAt = services_.clock.now();
    const std::string runID = ArchiveRunID::make(startedAt);

    // Held until after the eject. A run of the job elsewhere goes on alone:
    // this one keeps no assertion, writes no log and leaves the history to
    // the other, whose append it could otherwise race.
    std::optional<JobLock> lock;
    std::optional<std::string> refusal;
    try {
        lock = JobLock::tryTake(lockFile(request.jobID));
        if (!lock) refusal = std::string(RunMessages::jobBusyElsewhere);
    } catch (const std::exception& e) {
        refusal = e.what();
    }
    if (refusal) {
        control.finish();
        return endedAtOnce(request.jobID, request.trigger, startedAt, services_.clock.now(), std::move(*refusal));
    }

    SleepAssertion awake(services_.sleepInhibitor, std::string(SleepAssertion::runReason));
    std::unique_ptr<RunLog> log;
    Result result;
    try {
        log = RunLog::open(services_.logDirectory, request.jobID, runID);
        log->writeHeader(request.jobID, request.trigger, startedAt);
        throwIfStopped(stop);
        result = guardedWork(request, control, stop, runID, log->sink());
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        result = Result{RunMessages::errorOutcome(error, stop.stop_requested()), {}, std::nullopt, {}};
        result.stats.errors.push_back(RunMessages::plainDescription(error));
    }

    report(request.progress, SyncPhase::finalizing);
    if (const std::optional<RunOutcome> override = control.finish()) {
        result.outcome = *override;
        result.preview.reset();
    }

    RunRecord record;
    record.id = Uuid::random();
    record.jobID = request.jobID;
    record.trigger = request.trigger;
    record.startedAt = startedAt;
    record.endedAt = services_.clock.now();
    record.outcome = std::move(result.outcome);
    record.stats = std::move(result.stats);
    RunLog::finishRecord(log.get(), record);
    log.reset();

    try {
        services_.history.append(record, historyLimit);
    } catch (const std::exception& e) {
        record.outcome = RunOutcome::failed(std::string(RunMessages::historyFailedPrefix) + e.what());
        record.stats.errors.emplace_back(e.what());
    }
    awake.release();

    // On this thread: ejecting waits for the disks, and nothing in it needs
    // the windows' thread.
    if (record.outcome == RunOutcome::success())
        for (const fs::path& root : result.ejectRoots) {
            try {
                services_.ejector.eject(root);
            } catch (const std::exception& e) {
                if (record.logPath)
                    RunLog::appendLine(*record.logPath,
                                       std::string(RunMessages::ejectFailedPrefix) + root.string() + ": " + e.what());
            }
        }
    lock.reset();
    return {std::move(record), std::move(result.preview)};
}

SyncCoordinator::Result SyncCoordinator::guardedWork(const Request& request, RunControl& control,
                                                     std::stop_token stop, const std::string& runID, RunLogSink& log) {
    report(request.progress, SyncPhase::resolving);
    ResolvedJob resolved;
    try {
        resolved = resolve(request.jobID);
    } catch (const SyncPreviewError& e) {
        if (e.code() == SyncPreviewError::Code::jobNotFound)
            return Result{RunOutcome::failed(std::string(RunMessages::jobNotFound)), {}, std::nullopt, {}};
        return Result{RunOutcome::skipped(e.reason()), {}, std::nullopt, {}};
    }
    if (const RunControl::Cancellation cancellation = control.setRoots({resolved.a, resolved.b})) cancellation();
    throwIfStopped(stop);

    const SyncJob& job = resolved.job;
    // Only once both disks are known to be here, and never for a run asked for by hand.
    if (request.trigger != RunTrigger::manual && job.options.skipOnBattery && services_.isOnBattery())
        return Result{RunOutcome::skipped(SkipReason::onBattery), {}, std::nullopt, {}};

    const bool twoWay = job.mode == SyncMode::twoWay;
    OneWayEngine oneWayEngine(*services_.rsync, treesOverlap(&log));
    TwoWayEngine twoWayEngine(*services_.rsync, treesOverlap(&log));
    oneWayEngine.clock = &services_.clock;
    twoWayEngine.clock = &services_.clock;
    oneWayEngine.listFolder = twoWayEngine.listFolder = listFolder(job.id);
    const TwoWaySide sideA = resolved.sideA(), sideB = resolved.sideB();
    std::optional<BaselineStore> baseline;
    SyncPlan plan;
    TwoWayPlan twoWayPlan;
    // The job's lock keeps its baseline as the plan read it until the run.
    TwoWayEngine::Basis basis;
    // A confirmed run carries out the review of an earlier plan: it takes no
    // plan for its last look at the folders, and its transfer takes nothing
    // beyond its own plan, which no guard asked about, archive or not.
    OneWayEngine::Basis oneWayBasis;
    OneWayEngine::Basis* const lastLook = request.reviewed ? nullptr : &oneWayBasis;
    oneWayEngine.onlyPlanned = request.reviewed != nullptr;
    if (twoWay) {
        baseline.emplace(baselineFile(job.id), false);
        std::tie(plan, twoWayPlan) = twoWayEngine.plan(job, sideA, sideB, *baseline, stop, request.progress, &basis);
    } else {
        plan = oneWayEngine.plan(job, resolved.a, resolved.b, resolved.traitsB, stop, request.progress, lastLook);
    }

    // The stored counts belong to the volumes the baseline was taken on.
    std::optional<SideCounts> previousCounts;
    if (twoWay && baseline->isRecordedFor(sideA.volumeUUID, sideB.volumeUUID)) previousCounts = baseline->sideCounts();
    throwIfStopped(stop);
    std::map<Side, std::int64_t> freeSpace;
    if (copiesTo(plan, Side::a)) freeSpace[Side::a] = services_.freeSpace(resolved.a, resolved.rawA.isNetwork);
    if (copiesTo(plan, Side::b)) freeSpace[Side::b] = services_.freeSpace(resolved.b, resolved.rawB.isNetwork);
    const GuardVerdict verdict = SafetyGuard::evaluate(plan, job.mode, job.options, previousCounts, freeSpace);
    if (verdict.kind == GuardVerdict::Case::abort) {
        Result ended{RunOutcome::failed(std::string(abortText(verdict.reason))), {}, std::nullopt, {}};
        ended.stats.skipped = plan.skipped;
        return ended;
    }
    // A confirmed run goes by the review the user confirmed in place of the
    // guard's: whatever its plan takes beyond it is reviewed anew first.
    std::optional<std::string> review;
    if (request.reviewed) {
        const std::vector<PlannedArchive> beyond = PlanReview::beyond(
            *request.reviewed, plan, {resolved.rawA.caseSensitive, resolved.rawB.caseSensitive});
        if (!beyond.empty()) review = PlanReview::reason(beyond);
    } else if (verdict.kind == GuardVerdict::Case::needsConfirmation) {
        review = verdict.message;
    }
    if (review) {
        report(request.progress, SyncPhase::awaitingConfirmation);
        Result ended{RunOutcome::needsReview(std::move(*review)), {}, std::nullopt, {}};
        ended.stats.skipped = plan.skipped;
        ended.preview = std::move(plan);
        return ended;
    }

    throwIfStopped(stop);
    auto [stats, exit] =
        twoWay ? twoWayEngine.run(job, twoWayPlan, sideA, sideB, *baseline, runID, log, stop, request.progress, &basis)
               : oneWayEngine.run(job, plan, resolved.a, resolved.b, resolved.traitsB, runID, log, stop,
                                  request.progress, lastLook);

    // A two-way transfer that got through has rewritten the baseline: the
    // sides are what the run says, whatever happens to them next.
    const bool committed = twoWay && (exit.code == 0 || exit.code == 23 || exit.code == 24);
    if (committed) control.commit();

    Result result{{}, std::move(stats), std::nullopt, {}};
    if (!committed && stop.stop_requested()) {
        result.outcome = RunOutcome::cancelled();
        return result;
    }
    result.outcome = RunMessages::exitOutcome(exit.code, exit.stderrTail, !result.stats.skipped.empty());

    if (job.options.archiveEnabled) {
        const Date now = services_.clock.now();
        for (const fs::path& root : pruningRoots(resolved, twoWay ? &twoWayPlan : nullptr)) {
            try {
                ArchivePruner::prune(root, job.id, job.options.archiveRetentionDays, now, nullptr, runID);
            } catch (const std::exception& e) {
                result.stats.errors.push_back(std::string(RunMessages::pruneFailedPrefix) + root.string() + ": " +
                                              e.what());
                if (result.outcome == RunOutcome::success()) result.outcome = RunOutcome::completedWithWarnings();
            }
        }
    }
    if (job.options.ejectWhenDone) result.ejectRoots = ejectRoots(resolved);
    return result;
}

}  // namespace kelto
