#pragma once
// Test doubles shared by the automation tests.

#include "SyncAutomation/JobRunner.h"
#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/RsyncRunner.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/FakeVolumeEjector.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace kelto::test {

constexpr auto patience = std::chrono::seconds(20);  // only a hung test ever waits this long

inline RunRecord record(const Uuid& jobID, RunTrigger trigger, RunOutcome outcome, Date startedAt = Date{}) {
    RunRecord result;
    result.id = Uuid::random();
    result.jobID = jobID;
    result.trigger = trigger;
    result.startedAt = startedAt;
    result.endedAt = startedAt.adding(5);
    result.outcome = std::move(outcome);
    return result;
}

template <typename E, typename T>
std::optional<E> errorOf(const Result<T>& result) {
    try {
        result.get();
    } catch (const E& error) {
        return error;
    } catch (...) {
    }
    return std::nullopt;
}
template <typename E, typename F>
std::optional<E> thrownBy(F&& work) {
    return errorOf<E>(Result<void>::capture(std::forward<F>(work)));
}

// For work that fails before planning: rsync is never started.
struct NoRsync final : RsyncRunner {
    RsyncExit run(const std::vector<std::string>&, RsyncOutputParser::Mode, std::stop_token, const RawLineHandler&,
                  const EventHandler&) const override {
        ADD_FAILURE() << "rsync was started";
        return RsyncExit(1, {});
    }
    RsyncExit runBetween(int, int, const std::vector<std::string>&, RsyncOutputParser::Mode, std::stop_token,
                         const RawLineHandler&, const EventHandler&) const override {
        return run({}, {}, {}, {}, {});
    }
};

// Runs that block until the test ends them. While `endStopped`, a stopped run returns a cancelled record by itself.
class FakeRuns final : public RunExecuting {
public:
    struct Call {
        Uuid jobID;
        RunTrigger trigger = RunTrigger::manual;
        std::optional<SyncPlan> reviewed;  // what a confirmed run carried
        ProgressCallback progress;
        std::stop_token stop;
        std::optional<RunResult> result;
        std::exception_ptr thrown;
        bool returned = false;
    };

    explicit FakeRuns(bool endStopped) : endStopped_(endStopped) {}

    RunResult run(const Uuid& jobID, RunTrigger trigger, const SyncPlan* reviewed, const ProgressCallback& progress,
                  std::stop_token stop) override {
        std::stop_callback wake(stop, [this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        Call& call = calls_.emplace_back(
            Call{jobID, trigger, reviewed ? std::optional(*reviewed) : std::nullopt, progress, stop, {}, {}, false});
        changed_.notify_all();
        changed_.wait(lock, [&] { return call.result || call.thrown || (endStopped_ && stop.stop_requested()); });
        RunResult result = call.result ? *call.result : RunResult{record(jobID, trigger, RunOutcome::cancelled()), {}};
        call.returned = true;
        changed_.notify_all();
        if (call.thrown) std::rethrow_exception(call.thrown);  // a promise never to throw broken
        return result;
    }

    bool waitForRuns(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return calls_.size() >= count; });
    }
    std::size_t runCount() {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    Call call(std::size_t index) {
        std::lock_guard lock(mutex_);
        return calls_.at(index);
    }
    // Ends run `index` and waits until the executor has returned.
    void end(std::size_t index, RunOutcome outcome, std::optional<SyncPlan> review = std::nullopt) {
        std::unique_lock lock(mutex_);
        Call& call = calls_.at(index);
        call.result = RunResult{record(call.jobID, call.trigger, std::move(outcome)), std::move(review)};
        changed_.notify_all();
        changed_.wait_for(lock, patience, [&] { return calls_.at(index).returned; });
    }
    // Run `index`, once started, throws `error`.
    void throwWhenStarted(std::size_t index, std::exception_ptr error) {
        ASSERT_TRUE(waitForRuns(index + 1));
        std::lock_guard lock(mutex_);
        calls_.at(index).thrown = std::move(error);
        changed_.notify_all();
    }
    void endWhenStarted(std::size_t index, RunOutcome outcome, std::optional<SyncPlan> review = std::nullopt) {
        ASSERT_TRUE(waitForRuns(index + 1));
        end(index, std::move(outcome), std::move(review));
    }
    // Calls the progress callback run `index` was given, from the test's thread.
    void report(std::size_t index, const SyncProgress& progress) { call(index).progress(progress); }
    void endStoppedRuns(bool end) {
        std::lock_guard lock(mutex_);
        endStopped_ = end;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Call> calls_;  // a deque: references stay valid as calls are added
    bool endStopped_;
};

// Folders in a temporary folder on a mount table the test writes, and what a coordinator that starts no rsync needs.
struct FakeMachine {
    TemporaryFolder tmp;
    FakeVolumeSource volumes;
    RunHistoryStore history{tmp / "support/history", tmp / "logs"};
    FakeSleepInhibitor inhibitor;
    FakeVolumeEjector ejector;
    int identityLookups = 0;
    int failLookupsAfter = -1;     // below 0: never
    bool tableUnreadable = false;  // for the mount list, not the identity lookups

    FakeMachine() { volumes.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system")); }
    SyncCoordinator::Services services(std::function<std::vector<SyncJob>()> jobs, const Clock& clock) {
        return {
            .jobs = std::move(jobs),
            .rsync = std::make_shared<NoRsync>(),
            .supportDirectory = tmp / "support",
            .logDirectory = tmp / "logs",
            .history = history,
            .volumes = [this] {
                return tableUnreadable ? std::vector<MountedVolume>{} : VolumeInspector::mountedVolumes(volumes);
            },
            .isOnBattery = [] { return false; },
            .freeSpace = [](const std::filesystem::path&, bool) -> std::int64_t { return 0; },
            .identityAt =
                [this](const std::filesystem::path& path) {
                    if (failLookupsAfter >= 0 && identityLookups++ >= failLookupsAfter)
                        throw FileError(EIO, "find the volume of", path);
                    return VolumeInspector::identity(path, volumes);
                },
            .sleepInhibitor = inhibitor,
            .ejector = ejector,
            .clock = clock,
        };
    }
    Endpoint endpointAt(const std::filesystem::path& folder) {
        std::filesystem::create_directories(folder);
        return VolumeInspector::endpoint(folder, volumes);
    }
    // A removable disk mounted at tmp/<name>.
    std::filesystem::path disk(const std::string& name, const std::string& uuid, const std::string& fs = "vfat") {
        const std::filesystem::path root = tmp / name;
        std::filesystem::create_directories(root);
        volumes.add(root, volumeIdentity(VolumeKind::removable, uuid, name, fs));
        return root;
    }
    void unplug(const std::filesystem::path& root) {
        std::erase_if(volumes.table, [&](const MountedFileSystem& m) { return m.mountPoint == root; });
    }
};

}  // namespace kelto::test
