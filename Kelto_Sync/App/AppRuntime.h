#pragma once

#include "Kelto_Sync/App/AppFolders.h"
#include "Kelto_Sync/App/RunNotices.h"
#include "SyncAutomation/AppModel.h"
#include "SyncAutomation/Async/Subscription.h"
#include "SyncAutomation/Async/WorkerPool.h"
#include "SyncAutomation/AutomationScheduler.h"
#include "SyncAutomation/JobRunner.h"
#include "SyncAutomation/SleepInhibitor.h"
#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/SystemEvents.h"
#include "SyncAutomation/VolumeEjector.h"
#include "SyncAutomation/VolumeEvents.h"
#include "SyncAutomation/VolumeMonitor.h"
#include "SyncModel/JobStore.h"
#include "SyncModel/RunHistoryStore.h"

#include <filesystem>
#include <functional>
#include <memory>

namespace kelto {

// The running system: builds every long-lived object, wires them together,
// starts the background work and owns it until it is destroyed. Built on the
// main executor's thread; everything it wires answers there.
class AppRuntime {
public:
    struct Options {
        // The bundle whose Contents/Helpers/rsync runs the jobs.
        std::filesystem::path bundleRoot;
        AppFolders folders;
        MainExecutor& main;
        RunNotices& notices;
        // Asks the main window to show a job; by default AppEvents' notice.
        std::function<void(const Uuid&)> openJob;
        // The system's own when not given (tests give fakes).
        SystemEvents* systemEvents = nullptr;
        VolumeEvents* volumeEvents = nullptr;
        SleepInhibitor* sleepInhibitor = nullptr;
        VolumeEjector* ejector = nullptr;
    };

    // Throws RsyncLocatorError::notFound with the path when the bundle has
    // no executable rsync; nothing is started then.
    explicit AppRuntime(Options options);
    ~AppRuntime();
    AppRuntime(const AppRuntime&) = delete;
    AppRuntime& operator=(const AppRuntime&) = delete;

    AppModel& model() { return *model_; }
    SyncCoordinator& coordinator() { return *coordinator_; }
    const AppFolders& folders() const { return options_.folders; }

    void handleRunFinished(const RunRecord& record);

    static bool isOnBattery();
    // The bundle of the running program (three levels above its executable).
    static std::filesystem::path bundleRootFromExecutable();

    // Hands each unmount to `unmounted` on `executor`; mounts are the
    // scheduler's own business.
    static Subscription forwardUnmounts(VolumeEvents& events, Executor& executor,
                                        std::function<void(const std::filesystem::path&)> unmounted);

private:
    AutomationScheduler::Services schedulerServices();

    Options options_;
    // In order of construction; the destructor tears down in reverse.
    std::unique_ptr<JobStore> store_;
    std::unique_ptr<RunHistoryStore> history_;
    std::unique_ptr<SleepInhibitor> ownInhibitor_;
    std::unique_ptr<VolumeEjector> ownEjector_;
    std::unique_ptr<SyncCoordinator> coordinator_;
    std::unique_ptr<JobRunner> runner_;
    std::unique_ptr<VolumeMonitor> monitor_;
    std::unique_ptr<VolumeEvents> ownVolumeEvents_;
    std::unique_ptr<SystemEvents> ownSystemEvents_;
    std::unique_ptr<WorkerPool> workers_;
    std::unique_ptr<AutomationScheduler> scheduler_;
    std::unique_ptr<AppModel> model_;
    Subscription unmounts_;
};

}  // namespace kelto
