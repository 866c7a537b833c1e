#pragma once

// A coordinator over real folders, a written mount table, the bundled rsync behind a script, and fakes.

#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"
#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/FakeVolumeEjector.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/ScriptedRsyncRunner.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <sstream>

namespace kelto::test {

namespace fs = std::filesystem;

// Writes a file with a fixed old time, so equal content means unchanged.
inline void putOld(const fs::path& file, std::string_view content = "x", std::int64_t mtime = 1'600'000'000) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// The names below a folder, the reserved folder left out, with their content.
inline std::map<std::string, std::string> filesIn(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename() == ".KeltoSync") {
            it.disable_recursion_pending();
        } else if (it->is_regular_file()) {
            out[it->path().lexically_relative(root).native()] = readFile(it->path());
        }
    }
    return out;
}

inline std::vector<std::string> logLines(const RunRecord& record) {
    EXPECT_TRUE(record.logPath.has_value());
    std::vector<std::string> lines;
    std::istringstream in(record.logPath ? readFile(*record.logPath) : "");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class CoordinatorRunTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    FakeVolumeSource source;
    std::vector<SyncJob> jobs;
    RunHistoryStore history{tmp / "support/history", tmp / "logs"};
    RsyncProcess rsync{RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR)};
    std::shared_ptr<ScriptedRsyncRunner> script = std::make_shared<ScriptedRsyncRunner>(rsync);
    FakeSleepInhibitor inhibitor;
    FakeVolumeEjector ejector;
    // 2026-03-01 14:05:09 UTC
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    std::atomic<bool> onBattery{false};
    std::atomic<int> batteryChecks{0};
    std::function<std::int64_t(const fs::path&, bool)> freeSpace = SyncCoordinator::availableSpace;
    std::function<void()> onVolumesRead;  // each time the coordinator reads the mount table
    fs::path a = tmp / "a", b = tmp / "b";
    SyncCoordinator coordinator{{
        .jobs = [this] { return jobs; },
        .rsync = script,
        .supportDirectory = tmp / "support",
        .logDirectory = tmp / "logs",
        .history = history,
        .volumes =
            [this] {
                if (onVolumesRead) onVolumesRead();
                return VolumeInspector::mountedVolumes(source);
            },
        .isOnBattery =
            [this] {
                ++batteryChecks;
                return onBattery.load();
            },
        .freeSpace = [this](const fs::path& path, bool isNetwork) { return freeSpace(path, isNetwork); },
        .identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, source); },
        .sleepInhibitor = inhibitor,
        .ejector = ejector,
        .clock = clock,
    }};
    // Every report of the last run, and a hook called with each as it comes.
    std::mutex reportsLock;
    std::vector<SyncProgress> reports;
    std::function<void(const SyncProgress&)> onReport;
    CoordinatorRunTest() {
        source.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system"));
        fs::create_directories(a);
        fs::create_directories(b);
    }
    void TearDown() override { EXPECT_EQ(script->unusedSteps(), 0u) << "scripted rsync runs never happened"; }
    // A removable disk mounted at tmp/<name>.
    fs::path disk(const std::string& name, const std::string& uuid, const std::string& fileSystem = "ext4") {
        const fs::path root = tmp / name;
        fs::create_directories(root);
        source.add(root, volumeIdentity(VolumeKind::removable, uuid, name, fileSystem));
        return root;
    }
    void unplug(const fs::path& root) {
        std::erase_if(source.table, [&](const MountedFileSystem& m) { return m.mountPoint == root; });
    }
    SyncJob& addJob(SyncMode mode, const fs::path& from, const fs::path& to) {
        fs::create_directories(from);
        fs::create_directories(to);
        SyncJob job = SyncJob::newJob("Job");
        job.mode = mode;
        job.source = VolumeInspector::endpoint(from, source);
        job.destination = VolumeInspector::endpoint(to, source);
        jobs.push_back(std::move(job));
        return jobs.back();
    }
    SyncJob& addJob(SyncMode mode) { return addJob(mode, a, b); }
    // A job whose options `set` changes.
    Uuid addJob(SyncMode mode, const fs::path& from, const fs::path& to, const std::function<void(JobOptions&)>& set) {
        SyncJob& job = addJob(mode, from, to);
        set(job.options);
        return job.id;
    }
    bool recordsRuns = true;  // each run() finds its record in the history
    // One run, which takes one sleep assertion and lets it go; `reviewed` for a confirmed run.
    RunResult run(const Uuid& jobID, RunTrigger trigger = RunTrigger::manual, const SyncPlan* reviewed = nullptr,
                  std::stop_token stop = {}) {
        {
            const std::lock_guard guard(reportsLock);
            reports.clear();
        }
        const std::size_t takesBefore = inhibitor.takes();
        RunResult result = coordinator.run(
            jobID, trigger, reviewed,
            [this](const SyncProgress& progress) {
                {
                    const std::lock_guard guard(reportsLock);
                    reports.push_back(progress);
                }
                if (onReport) onReport(progress);
            },
            stop);
        EXPECT_EQ(inhibitor.takes(), takesBefore + 1);
        EXPECT_EQ(inhibitor.releases(), inhibitor.granted());
        EXPECT_TRUE(coordinator.active().controls().empty());
        if (recordsRuns) expectRecorded(result.record);
        return result;
    }
    // The review `asked` stopped with, confirmed after `meanwhile`.
    RunResult confirm(const Uuid& jobID, const RunResult& asked, const std::function<void()>& meanwhile = {}) {
        EXPECT_TRUE(asked.review) << "no review to confirm";
        if (!asked.review) return asked;
        const SyncPlan reviewed = *asked.review;
        if (meanwhile) meanwhile();
        return run(jobID, RunTrigger::manual, &reviewed);
    }
    std::vector<SyncPhase> phases() {
        const std::lock_guard guard(reportsLock);
        std::vector<SyncPhase> out;
        for (const SyncProgress& p : reports)
            if (out.empty() || out.back() != p.phase) out.push_back(p.phase);
        return out;
    }
    std::string header(const Uuid& jobID, std::string_view trigger = "manual") const {
        return "Kelto Sync " + jobID.string() + " " + std::string(trigger) + " 2026-03-01 14:05:09 +0000";
    }
    // The run was written to the history as it was returned.
    void expectRecorded(const RunRecord& record) {
        const std::vector<RunRecord> records = history.records(record.jobID);
        EXPECT_EQ(std::count(records.begin(), records.end(), record), 1) << "not in the history";
    }
    // A run folder of the job's archive on a side, dated `daysAgo` days before the clock.
    fs::path oldRunFolder(const fs::path& side, const Uuid& jobID, double daysAgo) {
        const fs::path folder =
            side / ArchiveDirectories::runFolderRelativePath(jobID, ArchiveRunID::make(clock.now().adding(-daysAgo * 86400)));
        putOld(folder / "old.txt", "archived long ago");
        return folder;
    }
};

}  // namespace kelto::test
