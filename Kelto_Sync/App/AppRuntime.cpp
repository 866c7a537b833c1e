#include "Kelto_Sync/App/AppRuntime.h"

#include "Kelto_Sync/AppEvents.h"
#include "Kelto_Sync/App/RunFinishedRouter.h"
#include "Platform/System/LinuxSystemEvents.h"
#include "Platform/System/LogindSleepInhibitor.h"
#include "Platform/System/UDisksVolumeEjector.h"
#include "SyncAutomation/DiskAppearance.h"
#include "SyncAutomation/PowerSource.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncAutomation/VolumeMonitorEvents.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"

#include <QString>

namespace kelto {

AppRuntime::AppRuntime(Options options) : options_(std::move(options)) {
    if (!options_.openJob)
        options_.openJob = [](const Uuid& jobID) {
            AppEvents::shared().postOpenJob(QString::fromStdString(jobID.string()));
        };
    // The updater comes first and starts last, once it exists.
    const AppFolders& folders = options_.folders;
    store_ = std::make_unique<JobStore>(folders.jobsFile());
    history_ = std::make_unique<RunHistoryStore>(folders.historyFolder(), folders.logs);
    const auto rsync = std::make_shared<RsyncProcess>(RsyncLocator::requireExecutable(options_.bundleRoot));

    if (!options_.sleepInhibitor) options_.sleepInhibitor = (ownInhibitor_ = std::make_unique<LogindSleepInhibitor>()).get();
    if (!options_.ejector) options_.ejector = (ownEjector_ = std::make_unique<UDisksVolumeEjector>()).get();
    coordinator_ = std::make_unique<SyncCoordinator>(SyncCoordinator::Services{
        .jobs =
            [store = store_.get()] {
                try {
                    return store->load();
                } catch (const std::exception&) {
                    return std::vector<SyncJob>{};
                }
            },
        .rsync = rsync,
        .supportDirectory = folders.support,
        .logDirectory = folders.logs,
        .history = *history_,
        .volumes = [] { return VolumeInspector::mounts(); },
        .isOnBattery = &AppRuntime::isOnBattery,
        .freeSpace = &SyncCoordinator::availableSpace,
        .identityAt = [](const std::filesystem::path& path) { return VolumeInspector::identity(path); },
        .sleepInhibitor = *options_.sleepInhibitor,
        .ejector = *options_.ejector,
        .clock = SystemClock::shared(),
    });
    runner_ = std::make_unique<JobRunner>(*coordinator_, options_.main);
    monitor_ = std::make_unique<VolumeMonitor>();
    if (!options_.volumeEvents)
        options_.volumeEvents = (ownVolumeEvents_ = std::make_unique<VolumeMonitorEvents>(*monitor_)).get();
    if (!options_.systemEvents)
        options_.systemEvents = (ownSystemEvents_ = std::make_unique<LinuxSystemEvents>()).get();
    workers_ = std::make_unique<WorkerPool>(2);
    // Its closures read the model through model_, empty until it exists.
    scheduler_ = std::make_unique<AutomationScheduler>(*runner_, *options_.systemEvents, *options_.volumeEvents,
                                                       options_.main, *workers_, SystemClock::shared(),
                                                       schedulerServices(), 10.0);
    model_ = std::make_unique<AppModel>(AppModel::Services{
        .main = options_.main,
        .store = *store_,
        .history = *history_,
        .runner = *runner_,
        .scheduler = *scheduler_,
        .coordinator = coordinator_.get(),
        .log = [](const std::string& line) { qWarning("kelto-sync: %s", line.c_str()); },
    });
    // The settings window controller and the notification router are built
    // by the windows on top of this runtime.
    model_->setOnRunFinished([this](const RunRecord& record) { handleRunFinished(record); });
    unmounts_ = forwardUnmounts(*options_.volumeEvents, options_.main,
                                [coordinator = coordinator_.get()](const std::filesystem::path& volume) {
                                    coordinator->volumeWillUnmount(volume);
                                });
    scheduler_->start();
}

AppRuntime::~AppRuntime() {
    unmounts_.reset();
    model_.reset();
    scheduler_.reset();
    workers_.reset();
    ownSystemEvents_.reset();
    ownVolumeEvents_.reset();
    monitor_.reset();
    runner_.reset();
    coordinator_.reset();
}

AutomationScheduler::Services AppRuntime::schedulerServices() {
    AutomationScheduler::Services s;
    s.jobs = [this] { return model_ ? model_->jobs() : std::vector<SyncJob>{}; };
    s.lastRunStart = [this](const Uuid& jobID) -> std::optional<Date> {
        if (!model_) return std::nullopt;
        const auto found = model_->lastRecords().find(jobID);
        if (found == model_->lastRecords().end()) return std::nullopt;
        return found->second.startedAt;
    };
    s.lastSuccessEnd = [history = history_.get()](const Uuid& jobID) -> std::optional<Date> {
        try {
            for (const RunRecord& record : history->records(jobID))  // newest first
                if (record.outcome.kind == RunOutcome::Case::success) return record.endedAt;
        } catch (const std::exception&) {
        }
        return std::nullopt;
    };
    s.onAsk = [notices = &options_.notices](const SyncJob& job) { notices->askToSync(job); };
    s.withdrawAsk = [notices = &options_.notices](const Uuid& jobID) { notices->withdrawAsk(jobID); };
    s.volumes = [] { return VolumeInspector::mountedVolumes(); };
    s.appearanceTime = [monitor = monitor_.get()](const std::filesystem::path& root) {
        return DiskAppearance::appearanceTime(root, monitor);
    };
    s.identityAt = [](const std::filesystem::path& path) { return VolumeInspector::identity(path); };
    s.supportDirectory = options_.folders.support;
    return s;
}

void AppRuntime::handleRunFinished(const RunRecord& record) {
    RunFinishedRouter::route(record, model_.get(), options_.notices, options_.openJob);
}

bool AppRuntime::isOnBattery() { return PowerSource::isOnBattery(); }

std::filesystem::path AppRuntime::bundleRootFromExecutable() { return RsyncLocator::mainBundleRoot(); }

Subscription AppRuntime::forwardUnmounts(VolumeEvents& events, Executor& executor,
                                         std::function<void(const std::filesystem::path&)> unmounted) {
    return events.observe(executor, [unmounted = std::move(unmounted)](const VolumeEvent& event) {
        if (event.kind == VolumeEvent::Case::unmounted) unmounted(event.url);
    });
}

}  // namespace kelto
