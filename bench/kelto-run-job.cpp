// Plans and runs one job on two folders through the engine the application
// uses, and prints one JSON object: the plan's counts, the safety guard's
// verdict, the outcome, the statistics, the engine's times and the time its
// rsync children took, and its peak memory. A tool for measuring and black-box
// testing.
//
//   kelto-run-job [options] SOURCE DESTINATION SUPPORT_FOLDER LOG_FOLDER
//     --mode mirror|copy|twoWay   the job's mode (default mirror)
//     --archive on|off            the job's archive (default on)
//     --plan-only                 plan and judge, run nothing
//     --force                     run even when the guard asks for confirmation
//     --fs-type NAME              the destination's file system (default: as the kernel reports it)
//     --rsync PATH                the rsync to run (default: the build's bundled one)
//     --print-rsync-args          print the arguments of the job's transfer, one a line, and stop
//
// The job is kept in SUPPORT_FOLDER/jobs.json, found again by its two folders,
// so that later runs share its id and archive; a two-way job's baseline is
// SUPPORT_FOLDER/state/<job UUID>.sqlite. The run log goes to
// LOG_FOLDER/<job UUID>/<run id>.log. Exit status: 0 when planned (and run),
// 1 when the guard stopped the run, 2 on an error.

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/ExitClass.h"
#include "SyncEngine/FileRunLog.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/SafetyGuard.h"
#include "SyncEngine/TwoWayEngine.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/JobStore.h"
#include "SyncModel/Support/FileIO.h"

#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

struct Options {
    SyncMode mode = SyncMode::mirror;
    bool archive = true;
    bool planOnly = false;
    bool force = false;
    bool printArguments = false;
    std::optional<std::string> fileSystem;
    std::optional<fs::path> rsync;
    std::vector<fs::path> folders;
};

[[noreturn]] void usage(const std::string& problem) {
    std::fprintf(stderr,
                 "kelto-run-job: %s\nusage: kelto-run-job [--mode mirror|copy|twoWay] [--archive on|off] "
                 "[--plan-only] [--force] [--fs-type NAME] [--rsync PATH] [--print-rsync-args] SOURCE DESTINATION SUPPORT_FOLDER "
                 "LOG_FOLDER\n",
                 problem.c_str());
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage(a + " needs a value");
            return argv[++i];
        };
        if (a == "--mode") {
            const auto mode = enumFromName<SyncMode>(value());
            if (!mode) usage("unknown mode");
            o.mode = *mode;
        } else if (a == "--archive") {
            const std::string v = value();
            if (v != "on" && v != "off") usage("--archive takes on or off");
            o.archive = v == "on";
        } else if (a == "--plan-only") {
            o.planOnly = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--fs-type") {
            o.fileSystem = value();
        } else if (a == "--rsync") {
            o.rsync = value();
        } else if (a == "--print-rsync-args") {
            o.printArguments = true;
        } else if (a.starts_with("--")) {
            usage("unknown option " + a);
        } else {
            o.folders.push_back(fs::absolute(a).lexically_normal());
        }
    }
    if (o.folders.size() != 4) usage("four folders are needed");
    return o;
}

// The kernel's name for the file system holding the folder.
std::string fileSystemName(const fs::path& folder) {
    struct statfs info {};
    if (::statfs(folder.c_str(), &info) != 0) return "unknown";
    static const std::map<unsigned long, std::string> names{
        {0xEF53, "ext4"},       {0x9123683E, "btrfs"}, {0x58465342, "xfs"},   {0x01021994, "tmpfs"},
        {0x4d44, "vfat"},       {0x2011BAB0, "exfat"}, {0x5346544e, "ntfs3"}, {0x6969, "nfs"},
        {0xFF534D42, "cifs"},   {0xFE534D42, "smb3"},  {0x794c7630, "overlay"}, {0xF2F52010, "f2fs"},
        {0x2FC12FC1, "zfs"},    {0x65735546, "fuse"}};
    const auto found = names.find(static_cast<unsigned long>(info.f_type));
    return found == names.end() ? "unknown" : found->second;
}

Endpoint endpointFor(const fs::path& folder, const std::optional<std::string>& fileSystem) {
    Endpoint e;
    e.path = folder.native();
    e.volume.fileSystem = fileSystem.value_or(fileSystemName(folder));
    e.volume.caseSensitive = e.volume.fileSystem != "vfat" && e.volume.fileSystem != "exfat";
    struct statvfs info {};
    e.volume.isReadOnly = ::statvfs(folder.c_str(), &info) == 0 && (info.f_flag & ST_RDONLY);
    e.volume.name = folder.filename();
    return e;
}

// The stored job on these two folders, made when there is none, with the
// options of this call.
SyncJob jobFor(const Options& o) {
    JobStore store(o.folders[2] / "jobs.json");
    std::vector<SyncJob> jobs = store.load();
    auto found = std::find_if(jobs.begin(), jobs.end(), [&](const SyncJob& j) {
        return j.source.path == o.folders[0].native() && j.destination.path == o.folders[1].native();
    });
    if (found == jobs.end()) {
        jobs.push_back(SyncJob::newJob("kelto-run-job"));
        found = jobs.end() - 1;
    }
    found->source = endpointFor(o.folders[0], std::nullopt);
    found->destination = endpointFor(o.folders[1], o.fileSystem);
    found->mode = o.mode;
    found->options.archiveEnabled = o.archive;
    store.save(jobs);
    return *found;
}

Json verdictJson(const GuardVerdict& v) {
    Json out{{"case", std::string(enumName(v.kind))}};
    if (v.kind == GuardVerdict::Case::needsConfirmation) out["message"] = v.message;
    if (v.kind == GuardVerdict::Case::abort) out["reason"] = std::string(enumName(v.reason));
    return out;
}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

void print(const Json& out) {
    std::cout << out.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
}

std::int64_t freeBytes(const fs::path& folder) {
    struct statvfs space {};
    if (::statvfs(folder.c_str(), &space) != 0) return -1;
    return static_cast<std::int64_t>(space.f_bavail) * static_cast<std::int64_t>(space.f_frsize);
}

// Plans and runs a two-way job the way the coordinator does: the baseline
// store of the job, the guard with the counts stored with the baseline, and
// the run on the plan just made.
// Runs the job once with a fresh run identifier and its own log file, and
// adds the run's identifier, log, outcome and statistics to `out`. Returns the
// run's wall time in seconds.
template <class Run>
double runAndReport(const Options& o, const SyncJob& job, Json& out, Run&& run) {
    const std::string runID = ArchiveRunID::make(SystemClock::shared().now());
    const fs::path logFolder = o.folders[3] / job.id.string();
    FileIO::createDirectories(logFolder);
    FileRunLog log(logFolder / (runID + ".log"));
    const auto runStart = std::chrono::steady_clock::now();
    const auto [stats, exit] = run(runID, log);
    const double runSeconds = seconds(std::chrono::steady_clock::now() - runStart);
    log.close();
    out["runID"] = runID;
    out["log"] = log.path().native();
    out["outcome"] = std::string(enumName(exitClass(exit)));
    out["exit"] = {{"code", exit.code}, {"stderrTail", exit.stderrTail}};
    out["stats"] = JsonCodec<RunStats>::encode(stats);
    return runSeconds;
}

Json runTwoWay(const Options& o, const SyncJob& job) {
    const TwoWaySide a{o.folders[0], FileSystemTraits::forVolume(job.source.volume), job.source.volume.uuid};
    const TwoWaySide b{o.folders[1], FileSystemTraits::forVolume(job.destination.volume), job.destination.volume.uuid};
    TwoWayEngine engine{RsyncProcess{o.rsync ? *o.rsync : RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR)}};

    Json out;
    out["job"] = job.id.string();
    out["mode"] = std::string(enumName(job.mode));
    out["archive"] = job.options.archiveEnabled;

    const fs::path baselinePath = o.folders[2] / "state" / (job.id.string() + ".sqlite");
    BaselineStore baseline(baselinePath, o.planOnly);
    const auto planStart = std::chrono::steady_clock::now();
    const auto [plan, twoWay] = engine.plan(job, a, b, baseline);
    const double planSeconds = seconds(std::chrono::steady_clock::now() - planStart);
    std::int64_t bytesToCopy = 0;
    for (const PlannedCopy& c : plan.copies) bytesToCopy += c.size;
    out["plan"] = {{"copies", plan.copies.size()},       {"bytesToCopy", bytesToCopy},
                   {"archives", plan.archives.size()},   {"skipped", plan.skipped.size()},
                   {"conflicts", plan.conflicts},        {"entryCountA", plan.entryCountA},
                   {"entryCountB", plan.entryCountB},    {"copyAtoB", twoWay.copyAtoB.size()},
                   {"copyBtoA", twoWay.copyBtoA.size()}, {"archiveOnA", twoWay.archiveOnA.size()},
                   {"archiveOnB", twoWay.archiveOnB.size()}, {"removeDirsOnA", twoWay.removeDirsOnA.size()},
                   {"removeDirsOnB", twoWay.removeDirsOnB.size()}};

    std::map<Side, std::int64_t> freeSpace;
    if (const std::int64_t free = freeBytes(a.root); free >= 0) freeSpace[Side::a] = free;
    if (const std::int64_t free = freeBytes(b.root); free >= 0) freeSpace[Side::b] = free;
    const GuardVerdict verdict = SafetyGuard::evaluate(plan, job.mode, job.options, baseline.sideCounts(), freeSpace);
    out["verdict"] = verdictJson(verdict);
    const bool allowed = verdict.kind == GuardVerdict::Case::proceed ||
                         (o.force && verdict.kind == GuardVerdict::Case::needsConfirmation);
    out["ran"] = !o.planOnly && allowed;

    double runSeconds = 0;
    if (!o.planOnly && allowed)
        runSeconds = runAndReport(o, job, out, [&](const std::string& runID, FileRunLog& log) {
            return engine.run(job, twoWay, a, b, baseline, runID, log);
        });

    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    out["timing"] = {{"planSeconds", planSeconds}, {"runSeconds", runSeconds}};
    out["memory"] = {{"peakKiB", self.ru_maxrss}};
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    Json out;
    try {
        const SyncJob job = jobFor(o);
        const fs::path& source = o.folders[0];
        const fs::path& destination = o.folders[1];
        const FileSystemTraits traits = FileSystemTraits::forVolume(job.destination.volume);

        if (o.printArguments) {
            RsyncInvocation invocation;
            invocation.operation = job.mode == SyncMode::copy ? RsyncOperation::copy() : RsyncOperation::mirror();
            invocation.source = source;
            invocation.destination = destination;
            invocation.traits = traits;
            invocation.filters = job.filters;
            if (job.options.archiveEnabled)
                invocation.backupDirectory = ArchiveDirectories::runFolderRelativePath(
                    job.id, ArchiveRunID::make(SystemClock::shared().now()));
            for (const std::string& argument : RsyncArguments::build(invocation)) std::cout << argument << '\n';
            return 0;
        }

        if (job.mode == SyncMode::twoWay) {
            out = runTwoWay(o, job);
            print(out);
            return out.contains("ran") && !out["ran"].get<bool>() && !o.planOnly ? 1 : 0;
        }

        OneWayEngine engine(RsyncProcess{o.rsync ? *o.rsync : RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR)});
        double rsyncSeconds = 0;
        int rsyncRuns = 0;
        engine.onRsyncRunTimed = [&](double s) {
            rsyncSeconds += s;
            ++rsyncRuns;
        };

        out["job"] = job.id.string();
        out["mode"] = std::string(enumName(job.mode));
        out["archive"] = job.options.archiveEnabled;

        const auto planStart = std::chrono::steady_clock::now();
        const SyncPlan plan = engine.plan(job, source, destination, traits);
        const double planSeconds = seconds(std::chrono::steady_clock::now() - planStart);
        std::int64_t bytesToCopy = 0;
        for (const PlannedCopy& c : plan.copies) bytesToCopy += c.size;
        out["plan"] = {{"copies", plan.copies.size()},       {"bytesToCopy", bytesToCopy},
                       {"archives", plan.archives.size()},   {"skipped", plan.skipped.size()},
                       {"deletionCount", plan.deletionCount}, {"entryCountA", plan.entryCountA},
                       {"entryCountB", plan.entryCountB}};

        struct statvfs space {};
        std::map<Side, std::int64_t> freeSpace;
        if (::statvfs(destination.c_str(), &space) == 0)
            freeSpace[Side::b] = static_cast<std::int64_t>(space.f_bavail) * static_cast<std::int64_t>(space.f_frsize);
        const GuardVerdict verdict = SafetyGuard::evaluate(plan, job.mode, job.options, std::nullopt, freeSpace);
        out["verdict"] = verdictJson(verdict);

        const bool allowed = verdict.kind == GuardVerdict::Case::proceed ||
                             (o.force && verdict.kind == GuardVerdict::Case::needsConfirmation);
        double runSeconds = 0;
        out["ran"] = !o.planOnly && allowed;
        if (!o.planOnly && allowed)
            runSeconds = runAndReport(o, job, out, [&](const std::string& runID, FileRunLog& log) {
                return engine.run(job, plan, source, destination, traits, runID, log);
            });

        rusage self{};
        ::getrusage(RUSAGE_SELF, &self);
        out["timing"] = {{"planSeconds", planSeconds},
                         {"runSeconds", runSeconds},
                         {"rsyncSeconds", rsyncSeconds},
                         {"rsyncRuns", rsyncRuns},
                         {"engineToRsync", rsyncSeconds > 0 ? (planSeconds + runSeconds) / rsyncSeconds : 0.0}};
        // rsync's own peaks are not here: a child spawned from this process
        // starts with this process's peak, so getrusage cannot tell them.
        out["memory"] = {{"peakKiB", self.ru_maxrss}};
        print(out);
        return (o.planOnly || allowed) ? 0 : 1;
    } catch (const TwoWayEngineError& e) {
        out["error"] = {{"type", "TwoWayEngineError"}, {"code", static_cast<int>(e.code())}, {"message", e.what()}};
        if (e.code() == TwoWayEngineError::Code::scanFailed)
            out["error"]["exit"] = {{"code", e.exitCode()}, {"stderrTail", e.stderrTail()}};
    } catch (const OneWayEngineError& e) {
        out["error"] = {{"type", "OneWayEngineError"}, {"code", std::string(enumName(e.code()))}, {"message", e.what()}};
    } catch (const std::exception& e) {
        out["error"] = {{"type", "error"}, {"message", e.what()}};
    }
    print(out);
    return 2;
}
