#include "tools/kelto-run-job/RunJob.h"

#include "Platform/System/LinuxVolumeSource.h"
#include "Platform/System/LogindSleepInhibitor.h"
#include "Platform/System/UDisksVolumeEjector.h"
#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"
#include "SyncEngine/TransferScratch.h"
#include "SyncModel/JobStore.h"
#include "SyncModel/RunHistoryStore.h"
#include "SyncModel/Support/PathComponents.h"
#include "tools/kelto-run-job/RunJobReport.h"
#include "tools/kelto-run-job/TimedRsyncRunner.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <mutex>
#include <optional>
#include <vector>

namespace kelto {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

namespace {

double seconds(SteadyClock::duration d) { return std::chrono::duration<double>(d).count(); }

long peakKiB() {
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    return self.ru_maxrss;
}

fs::path rsyncFor(const RunJobOptions& o) {
    return o.rsync ? *o.rsync : RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR);
}

bool isWithin(const fs::path& folder, const fs::path& path) {
    return PathComponents::isPrefix(PathComponents::of(fs::weakly_canonical(folder)),
                                     PathComponents::of(fs::weakly_canonical(path)));
}

// When the run's reports moved from one phase to the next.
class PhaseMarks {
public:
    void note(SyncPhase phase) {
        const std::lock_guard guard(lock_);
        if (!marks_.empty() && marks_.back().first == phase) return;
        marks_.emplace_back(phase, SteadyClock::now());
    }

    // The run cut where its reports moved on: planned, transferring,
    // archiving, the engine's finalizing report, the coordinator's one. A
    // boundary the run never reached falls on the one before it.
    std::vector<std::pair<std::string, double>> split(SteadyClock::time_point started,
                                                      SteadyClock::time_point returned) const {
        const std::lock_guard guard(lock_);
        std::size_t from = 0;
        SteadyClock::time_point last = started;
        auto next = [&](SyncPhase phase) {
            for (std::size_t i = from; i < marks_.size(); ++i)
                if (marks_[i].first == phase) {
                    from = i + 1;
                    last = marks_[i].second;
                    return last;
                }
            return last;
        };
        const auto planned = next(SyncPhase::planning);
        const auto transferring = next(SyncPhase::transferring);
        const auto archiving = next(SyncPhase::archiving);
        const auto engineDone = next(SyncPhase::finalizing);
        SteadyClock::time_point recorded = engineDone;
        for (std::size_t i = marks_.size(); i-- > from;)
            if (marks_[i].first == SyncPhase::finalizing) {
                recorded = marks_[i].second;
                break;
            }
        return {{"plan", seconds(planned - started)},
                {"freshLook", seconds(transferring - planned)},
                {"transfer", seconds(archiving - transferring)},
                {"archive", seconds(engineDone - archiving)},
                {"baseline", seconds(recorded - engineDone)},
                {"record", seconds(returned - recorded)}};
    }

private:
    mutable std::mutex lock_;
    std::vector<std::pair<SyncPhase, SteadyClock::time_point>> marks_;
};

// Seconds in which at least one rsync child ran.
double busySeconds(std::vector<TimedRsyncRunner::Pass> passes) {
    std::sort(passes.begin(), passes.end(), [](const auto& x, const auto& y) { return x.start < y.start; });
    double busy = 0, reach = -1;
    for (const auto& pass : passes) {
        const double end = pass.start + pass.seconds;
        if (end <= reach) continue;
        busy += end - std::max(pass.start, reach);
        reach = end;
    }
    return busy;
}

void addPlan(const RunJobOptions& o, const SyncPlan& plan, Json& out) {
    out["plan"] = RunJobReport::planCounts(plan);
    if (o.listPlan) out["planLists"] = RunJobReport::planLists(plan);
}

// The command line's choices for one side over what its volume says of
// itself. A side keeps its volume's kind, so that it resolves as the
// application's do (a share by its server and share, not by a UUID it lacks);
// a UUID given names no mounted volume, so that side is found by its path, as
// on an internal volume.
VolumeIdentity declared(VolumeIdentity identity, const TwoWaySideOptions& side) {
    if (side.volumeUUID) {
        identity.kind = VolumeKind::internal;
        identity.uuid = side.volumeUUID;
        identity.remountURL.reset();
    }
    if (side.fileSystem) {
        identity.fileSystem = *side.fileSystem;
        identity.caseSensitive = LinuxVolumeSource::isCaseSensitive(*side.fileSystem);
    }
    if (side.caseSensitive) identity.caseSensitive = *side.caseSensitive;
    return identity;
}

// A side of a new job, made as the job editor makes it for a chosen folder
// (its volume, its path inside the volume, its file number), on the volume
// the command line declares.
Endpoint newSide(const fs::path& folder, const TwoWaySideOptions& side) {
    Endpoint endpoint = VolumeInspector::endpoint(folder);
    endpoint.volume = declared(std::move(endpoint.volume), side);
    // A file system that numbers its files afresh at each mount keeps none.
    endpoint.fileID = VolumeInspector::fileNumber(endpoint.path, endpoint.volume.fileSystem);
    return endpoint;
}

// Whether a stored side is the folder at `folder` on the volume the command
// line declares now: another volume, file system or case sensitivity there is
// another folder, so another job.
bool isSide(const Endpoint& stored, const fs::path& folder, const VolumeIdentity& volume) {
    std::error_code error;
    const fs::path real = fs::weakly_canonical(folder, error);
    const bool samePath = stored.path == folder.native() || (!error && stored.path == real.native());
    return samePath && stored.volume.matches(volume) && stored.volume.fileSystem == volume.fileSystem &&
           stored.volume.caseSensitive == volume.caseSensitive;
}

}  // namespace

VolumeIdentity RunJob::identityAt(const RunJobOptions& o, const fs::path& path) {
    VolumeIdentity identity = VolumeInspector::identity(path);
    const TwoWaySideOptions* side = isWithin(o.source, path)        ? &o.a
                                    : isWithin(o.destination, path) ? &o.b
                                                                    : nullptr;
    return side ? declared(std::move(identity), *side) : identity;
}

SyncJob RunJob::storedJob(const RunJobOptions& o) {
    const VolumeIdentity sourceVolume = identityAt(o, o.source);
    const VolumeIdentity destinationVolume = identityAt(o, o.destination);
    std::optional<SyncJob> job;
    // Found or added under the jobs file's lock, so that drivers started
    // together agree on one job, as do the application's changes.
    JobStore(o.supportFolder / "jobs.json").modify([&](std::vector<SyncJob>& jobs) {
        auto found = std::find_if(jobs.begin(), jobs.end(), [&](const SyncJob& stored) {
            return isSide(stored.source, o.source, sourceVolume) &&
                   isSide(stored.destination, o.destination, destinationVolume);
        });
        // A stored job keeps its sides: a run checks the folders it finds
        // against them, as the application's runs do.
        if (found == jobs.end()) {
            SyncJob made = SyncJob::newJob("kelto-run-job");
            made.source = newSide(o.source, o.a);
            made.destination = newSide(o.destination, o.b);
            jobs.push_back(std::move(made));
            found = jobs.end() - 1;
        }
        found->mode = o.mode;
        found->options.archiveEnabled = o.archive;
        found->options.archiveRetentionDays = o.retentionDays;
        job = *found;
    });
    return std::move(*job);
}

void RunJob::printRsyncArguments(const SyncJob& job) {
    RsyncInvocation invocation;
    invocation.operation = job.mode == SyncMode::copy ? RsyncOperation::copy() : RsyncOperation::mirror();
    invocation.source = job.source.path;
    invocation.destination = job.destination.path;
    invocation.traits =
        FileSystemTraits::forTransfer(FileSystemTraits::forVolume(job.destination.volume), invocation.source,
                                      *invocation.destination);
    invocation.filters = job.filters;
    if (job.options.archiveEnabled)
        invocation.backupDirectory =
            ArchiveDirectories::runFolderRelativePath(job.id, ArchiveRunID::make(SystemClock::shared().now()));
    // As a transfer that writes files gets them.
    TransferScratch::assign(invocation, job.destination.path, {}, false);
    for (const std::string& argument : RsyncArguments::build(invocation)) std::cout << argument << '\n';
}

Json RunJob::run(const RunJobOptions& o, const SyncJob& job) {
    const RsyncProcess process(rsyncFor(o));
    const auto rsync = std::make_shared<TimedRsyncRunner>(process);
    RunHistoryStore history(o.supportFolder / "history", o.logFolder);
    LogindSleepInhibitor inhibitor;
    UDisksVolumeEjector ejector;
    SyncCoordinator coordinator({
        .jobs =
            [&] {
                try {
                    return JobStore(o.supportFolder / "jobs.json").load();
                } catch (const std::exception&) {
                    return std::vector<SyncJob>{};
                }
            },
        .rsync = rsync,
        .supportDirectory = o.supportFolder,
        .logDirectory = o.logFolder,
        .history = history,
        .volumes = [] { return VolumeInspector::mounts(); },
        .isOnBattery = [] { return false; },
        .freeSpace = SyncCoordinator::availableSpace,
        .identityAt = [&](const fs::path& path) { return identityAt(o, path); },
        .sleepInhibitor = inhibitor,
        .ejector = ejector,
        .clock = SystemClock::shared(),
    });

    Json out{{"job", job.id.string()}, {"mode", std::string(enumName(job.mode))}, {"archive", job.options.archiveEnabled}};
    // A confirmed run carries the plan its user reviewed: here the preview's
    // of a moment before, as if confirmed at once; a preview that fails
    // leaves nothing reviewed, and the run tells why. Not part of the timing.
    std::optional<SyncPlan> reviewed;
    if (o.confirm && !o.planOnly) {
        try {
            reviewed = coordinator.preview(job.id, {});
        } catch (const std::exception&) {
            reviewed = SyncPlan{};
        }
    }
    const std::size_t previewPasses = rsync->passes().size();
    PhaseMarks phases;
    const auto started = SteadyClock::now();
    if (o.planOnly) {
        addPlan(o, coordinator.preview(job.id, {}), out);
    } else {
        const RunResult result = coordinator.run(
            job.id, RunTrigger::manual, reviewed ? &*reviewed : nullptr,
            [&](const SyncProgress& progress) { phases.note(progress.phase); }, {});
        RunJobReport::outcome(result.record.outcome, out);
        out["record"] = JsonCodec<RunRecord>::encode(result.record);
        if (result.record.logPath) out["log"] = *result.record.logPath;
        if (result.review) addPlan(o, *result.review, out);
    }
    const auto returned = SteadyClock::now();
    const auto split = phases.split(started, returned);
    const double total = seconds(returned - started);

    std::vector<TimedRsyncRunner::Pass> passes = rsync->passes();
    passes.erase(passes.begin(), passes.begin() + static_cast<std::ptrdiff_t>(previewPasses));
    const double originOffset = seconds(started - rsync->origin());
    double rsyncSeconds = 0;
    Json passSeconds = Json::array(), passList = Json::array();
    for (const TimedRsyncRunner::Pass& pass : passes) {
        rsyncSeconds += pass.seconds;
        passSeconds.push_back(pass.seconds);
        passList.push_back({{"kind", pass.kind}, {"start", pass.start - originOffset}, {"seconds", pass.seconds}});
    }
    Json phaseSeconds = Json::object();
    for (const auto& [name, value] : split) phaseSeconds[name] = value;
    const double planSeconds = split[0].second, runSeconds = total - planSeconds - split[5].second;
    const double busy = busySeconds(passes);
    out["timing"] = {{"planSeconds", planSeconds},
                     {"runSeconds", runSeconds},
                     {"totalSeconds", total},
                     {"phaseSeconds", std::move(phaseSeconds)},
                     {"rsyncSeconds", rsyncSeconds},
                     {"rsyncBusySeconds", busy},
                     {"engineOwnSeconds", std::max(0.0, total - busy)},
                     {"rsyncRuns", passes.size()},
                     {"rsyncPassSeconds", std::move(passSeconds)},
                     {"rsyncPasses", std::move(passList)},
                     {"engineToRsync", rsyncSeconds > 0 ? (planSeconds + runSeconds) / rsyncSeconds : 0.0}};
    // rsync's own peaks are not here: a child spawned from this process
    // starts with this process's peak, so getrusage cannot tell them.
    out["memory"] = {{"peakKiB", peakKiB()}};
    return out;
}

}  // namespace kelto
