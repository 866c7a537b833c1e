#include "tools/kelto-run-job/RunJob.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/ExitClass.h"
#include "SyncEngine/FileRunLog.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/SafetyGuard.h"
#include "SyncEngine/TransferScratch.h"
#include "SyncModel/JobStore.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "tools/kelto-run-job/RunJobReport.h"

#include <sys/resource.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <vector>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// The kernel's name for the file system holding the folder.
std::string fileSystemName(const fs::path& folder) {
    std::optional<std::int64_t> type;
    try {
        type = SafeFileSystem::fileSystemType(folder);
    } catch (const FileError&) {
        // an unreadable folder is reported by the run itself; here it is only named
    }
    if (!type) return "unknown";
    static const std::map<unsigned long, std::string> names{
        {0xEF53, "ext4"},       {0x9123683E, "btrfs"}, {0x58465342, "xfs"},   {0x01021994, "tmpfs"},
        {0x4d44, "vfat"},       {0x2011BAB0, "exfat"}, {0x5346544e, "ntfs3"}, {0x6969, "nfs"},
        {0xFF534D42, "cifs"},   {0xFE534D42, "smb3"},  {0x794c7630, "overlay"}, {0xF2F52010, "f2fs"},
        {0x2FC12FC1, "zfs"},    {0x65735546, "fuse"}};
    const auto found = names.find(static_cast<unsigned long>(*type));
    return found == names.end() ? "unknown" : found->second;
}

Endpoint endpointFor(const fs::path& folder, const TwoWaySideOptions& options) {
    Endpoint e;
    e.path = folder.native();
    e.volume.uuid = options.volumeUUID;
    e.volume.fileSystem = options.fileSystem.value_or(fileSystemName(folder));
    e.volume.caseSensitive =
        options.caseSensitive.value_or(e.volume.fileSystem != "vfat" && e.volume.fileSystem != "exfat");
    struct statvfs info {};
    e.volume.isReadOnly = ::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY);
    e.volume.name = folder.filename();
    return e;
}

std::optional<std::int64_t> freeBytes(const fs::path& folder) {
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) != 0) return std::nullopt;
    return static_cast<std::int64_t>(space.f_bavail) * static_cast<std::int64_t>(space.f_frsize);
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

long peakKiB() {
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    return self.ru_maxrss;
}

fs::path rsyncFor(const RunJobOptions& o) {
    return o.rsync ? *o.rsync : RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR);
}

Json header(const SyncJob& job) {
    return Json{{"job", job.id.string()},
                {"mode", std::string(enumName(job.mode))},
                {"archive", job.options.archiveEnabled}};
}

// Judges the plan and adds the guard's input and verdict; whether the run may go on.
bool judge(const RunJobOptions& o, const SyncJob& job, const SyncPlan& plan,
           const std::optional<SideCounts>& previousCounts, const std::map<Side, std::int64_t>& freeSpace, Json& out) {
    const GuardVerdict verdict = SafetyGuard::evaluate(plan, job.mode, job.options, previousCounts, freeSpace);
    out["guardInput"] = RunJobReport::guardInput(previousCounts, freeSpace);
    out["verdict"] = RunJobReport::verdict(verdict);
    const bool allowed = verdict.kind == GuardVerdict::Case::proceed ||
                         (o.force && verdict.kind == GuardVerdict::Case::needsConfirmation);
    out["ran"] = !o.planOnly && allowed;
    return allowed;
}

// Runs the job once with a fresh run identifier and its own log file, and
// adds the run's identifier, log, outcome and statistics to `out`. Returns the
// run's wall time in seconds.
template <class Run>
double runAndReport(const RunJobOptions& o, const SyncJob& job, Json& out, Run&& run) {
    const std::string runID = ArchiveRunID::make(SystemClock::shared().now());
    const fs::path logFolder = o.logFolder / job.id.string();
    FileIO::createDirectories(logFolder);
    FileRunLog log(logFolder / (runID + ".log"));
    const auto runStart = std::chrono::steady_clock::now();
    const auto [stats, exit] = run(runID, log);
    const double runSeconds = seconds(std::chrono::steady_clock::now() - runStart);
    log.close();
    out["runID"] = runID;
    out["log"] = log.path().native();
    out["outcome"] = std::string(enumName(exitClass(exit)));
    out["exit"] = RunJobReport::exit(exit.code, exit.stderrTail);
    out["stats"] = JsonCodec<RunStats>::encode(stats);
    return runSeconds;
}

}  // namespace

SyncJob RunJob::storedJob(const RunJobOptions& o) {
    JobStore store(o.supportFolder / "jobs.json");
    std::vector<SyncJob> jobs = store.load();
    auto found = std::find_if(jobs.begin(), jobs.end(), [&](const SyncJob& j) {
        return j.source.path == o.source.native() && j.destination.path == o.destination.native();
    });
    if (found == jobs.end()) {
        jobs.push_back(SyncJob::newJob("kelto-run-job"));
        found = jobs.end() - 1;
    }
    found->source = endpointFor(o.source, o.a);
    found->destination = endpointFor(o.destination, o.b);
    found->mode = o.mode;
    found->options.archiveEnabled = o.archive;
    store.save(jobs);
    return *found;
}

TwoWaySide RunJob::side(const fs::path& root, const Endpoint& endpoint, const TwoWaySideOptions& options) {
    TwoWaySide side{root, FileSystemTraits::forVolume(endpoint.volume), endpoint.volume.uuid};
    // FAT names fold whatever the volume says; the command line may still say otherwise.
    if (options.caseSensitive) side.traits.caseSensitive = *options.caseSensitive;
    return side;
}

void RunJob::printRsyncArguments(const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b) {
    RsyncInvocation invocation;
    invocation.operation = job.mode == SyncMode::copy ? RsyncOperation::copy() : RsyncOperation::mirror();
    invocation.source = a.root;
    invocation.destination = b.root;
    invocation.traits = b.traits;
    invocation.filters = job.filters;
    if (job.options.archiveEnabled)
        invocation.backupDirectory =
            ArchiveDirectories::runFolderRelativePath(job.id, ArchiveRunID::make(SystemClock::shared().now()));
    // As a transfer that writes files gets them.
    TransferScratch::assign(invocation, b.root, {}, false);
    for (const std::string& argument : RsyncArguments::build(invocation)) std::cout << argument << '\n';
}

Json RunJob::oneWay(const RunJobOptions& o, const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b) {
    RunJobEngines engines(rsyncFor(o));
    // Each rsync run's wall time, in the order the engine started them.
    std::vector<double> passSeconds;
    engines.onOneWayRsyncRunTimed([&](double s) { passSeconds.push_back(s); });

    Json out = header(job);
    const auto planStart = std::chrono::steady_clock::now();
    const SyncPlan plan = engines.planOneWay(job, a, b);
    const double planSeconds = seconds(std::chrono::steady_clock::now() - planStart);
    out["plan"] = RunJobReport::planCounts(plan, nullptr);
    if (o.listPlan) out["planLists"] = RunJobReport::planLists(plan, nullptr);

    // Only the destination receives anything; one-way jobs have no previous counts.
    std::map<Side, std::int64_t> freeSpace;
    if (const auto free = freeBytes(b.root)) freeSpace[Side::b] = *free;
    const bool allowed = judge(o, job, plan, std::nullopt, freeSpace, out);

    double runSeconds = 0;
    if (!o.planOnly && allowed)
        runSeconds = runAndReport(o, job, out, [&](const std::string& runID, FileRunLog& log) {
            return engines.runOneWay(job, plan, a, b, runID, log);
        });

    double rsyncSeconds = 0;
    for (const double s : passSeconds) rsyncSeconds += s;
    out["timing"] = {{"planSeconds", planSeconds},
                     {"runSeconds", runSeconds},
                     {"rsyncSeconds", rsyncSeconds},
                     {"rsyncRuns", passSeconds.size()},
                     {"rsyncPassSeconds", passSeconds},
                     {"engineToRsync", rsyncSeconds > 0 ? (planSeconds + runSeconds) / rsyncSeconds : 0.0}};
    // rsync's own peaks are not here: a child spawned from this process
    // starts with this process's peak, so getrusage cannot tell them.
    out["memory"] = {{"peakKiB", peakKiB()}};
    return out;
}

Json RunJob::twoWay(const RunJobOptions& o, const SyncJob& job, const TwoWaySide& a, const TwoWaySide& b) {
    RunJobEngines engines(rsyncFor(o));
    Json out = header(job);

    BaselineStore baseline(o.supportFolder / "state" / (job.id.string() + ".sqlite"), o.planOnly);
    const auto planStart = std::chrono::steady_clock::now();
    // Named members rather than a structured binding: the run's lambda below
    // captures the plan, which clang 14 does not allow for bindings.
    const std::pair<SyncPlan, TwoWayPlan> planned = engines.planTwoWay(job, a, b, baseline);
    const SyncPlan& plan = planned.first;
    const TwoWayPlan& twoWay = planned.second;
    const double planSeconds = seconds(std::chrono::steady_clock::now() - planStart);
    out["plan"] = RunJobReport::planCounts(plan, &twoWay);
    if (o.listPlan) out["planLists"] = RunJobReport::planLists(plan, &twoWay);

    // The stored counts belong to the volumes the baseline was taken on: they
    // say nothing about other volumes now at the same folders.
    std::optional<SideCounts> previousCounts;
    if (baseline.load(a.volumeUUID, b.volumeUUID)) previousCounts = baseline.sideCounts();
    std::map<Side, std::int64_t> freeSpace;
    if (const auto free = freeBytes(a.root)) freeSpace[Side::a] = *free;
    if (const auto free = freeBytes(b.root)) freeSpace[Side::b] = *free;
    const bool allowed = judge(o, job, plan, previousCounts, freeSpace, out);

    double runSeconds = 0;
    if (!o.planOnly && allowed)
        runSeconds = runAndReport(o, job, out, [&](const std::string& runID, FileRunLog& log) {
            return engines.runTwoWay(job, twoWay, a, b, baseline, runID, log);
        });

    out["timing"] = {{"planSeconds", planSeconds}, {"runSeconds", runSeconds}};
    out["memory"] = {{"peakKiB", peakKiB()}};
    return out;
}

}  // namespace kelto
