#pragma once

#include "SyncAutomation/Async/DelayedWork.h"
#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/MainExecutor.h"
#include "SyncAutomation/Async/ObservedValue.h"
#include "SyncAutomation/Async/Subscription.h"
#include "SyncAutomation/EndpointResolver.h"
#include "SyncAutomation/IntervalAnchorStore.h"
#include "SyncAutomation/JobScheduling.h"
#include "SyncAutomation/MountedVolume.h"
#include "SyncAutomation/RunRequesting.h"
#include "SyncAutomation/SystemEvents.h"
#include "SyncAutomation/VolumeEvents.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/Support/Clock.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace date {
class time_zone;
}

namespace kelto {

// Turns the triggers of enabled jobs into run requests on the job runner.
// Interval, daily and weekly triggers are served by one timer at the earliest
// pending fire date; occurrences missed while the application was not running
// or the machine slept by a catch-up pass at start and on wake; on-connect
// triggers by a connect task that waits a settle delay after a mount and
// checks both sides again before it requests a run or asks the user.
//
// All state lives on the main executor: every call is made there, and the
// scheduler must be destroyed there. Volume queries and endpoint resolutions
// run on the workers and their answers are posted back. The runner, the two
// event sources, the executors and the clock must outlive the scheduler; the
// main executor and whatever the worker-side services reach must also outlive
// the work already handed to the workers, which may finish after the
// scheduler is gone (its answers are then dropped).
class AutomationScheduler final : public JobScheduling {
public:
    static constexpr double defaultSettleDelay = 10;

    struct Services {
        // Called on the main executor.
        // The model's current jobs, in its order; empty once it is gone.
        std::function<std::vector<SyncJob>()> jobs;
        // Start of the latest run record the model holds for the job.
        std::function<std::optional<Date>(const Uuid&)> lastRunStart;
        // End of the job's newest successful run in its history.
        std::function<std::optional<Date>(const Uuid&)> lastSuccessEnd;
        // Presents the ask prompt for the job and returns at once.
        std::function<void(const SyncJob&)> onAsk;
        // Withdraws the job's ask prompt, if one is shown: a volume of the
        // job went away, so there is nothing left to ask about. May be empty.
        std::function<void(const Uuid&)> withdrawAsk;
        // The zone daily and weekly triggers follow; asked at every computation
        // so that a changed system zone counts at once.
        std::function<const ::date::time_zone&()> zone = &ArchiveRunID::currentZone;

        // Called on the workers: must be safe on any thread.
        std::function<std::vector<MountedVolume>()> volumes;
        // When the volume whose root is the path appeared; none when unknown.
        std::function<std::optional<Date>(const std::filesystem::path&)> appearanceTime;
        // The identity of the volume holding a path; may throw.
        EndpointResolver::IdentityLookup identityAt;

        // Keeps the interval anchors (IntervalAnchorStore).
        std::filesystem::path supportDirectory;
    };

    // A negative or NaN settle delay counts as none. Reads the stored
    // interval anchors; observes nothing and schedules nothing.
    AutomationScheduler(RunRequesting& runner, SystemEvents& systemEvents, VolumeEvents& volumeEvents,
                        MainExecutor& main, Executor& workers, const Clock& clock, Services services,
                        double settleDelay = defaultSettleDelay);
    ~AutomationScheduler() override;
    AutomationScheduler(const AutomationScheduler&) = delete;
    AutomationScheduler& operator=(const AutomationScheduler&) = delete;

    // The first call follows system events, volume events and finished runs,
    // then runs the first catch-up pass and computes the first dates; later
    // calls do nothing.
    void start();

    // Drops every waiting connect task and what is remembered of deleted
    // jobs, then recomputes. Ignored before start().
    void jobsChanged() override;

    std::optional<Date> pendingFire(const Uuid& jobID) const override;
    Subscription observePendingFires(std::function<void()> changed) override;

private:
    struct CatchUpPass;
    struct MountHandling;
    struct AnchorWrites;

    // Timers and due runs (AutomationScheduler.cpp).
    void reschedule();
    void request(const Uuid& jobID, RunTrigger trigger);
    void fire(const SyncJob& job, ConnectAction action, RunTrigger trigger);
    std::optional<Date> lastStart(const SyncJob& job) const;
    // Where the interval rhythm of a job that never ran starts: its anchor,
    // or while that lies ahead of the clock, the time it was first seen so.
    Date rhythmStart(const Uuid& jobID, Date anchor, Date now);
    // Whether a passed date of a job that never ran belongs to a rhythm the
    // job's anchor no longer allows.
    static bool beforeAnchor(Date date, Date anchor, Date now);
    bool stillListed(const SyncJob& job) const;
    void systemEventOccurred(SystemEvent event);
    void runFinished(const RunRecord& record);
    void keepAnchors();

    // Runs `work` on the workers and hands its value to `then` on the main
    // executor while the scheduler exists. Work that throws gives T{}: what
    // cannot be read counts as nothing mounted and nothing available.
    template <typename T>
    void offMain(std::function<T()> work, std::function<void(T)> then);

    // Catch-up and on-connect runs (AutomationSchedulerConnect.cpp).
    void evaluateMissed(std::function<void()> then);
    void continueCatchUp(const std::shared_ptr<CatchUpPass>& pass);
    void volumeEventOccurred(const VolumeEvent& event);
    void handleNextVolumeEvent();
    void continueMount(const std::shared_ptr<MountHandling>& mount);
    void handleUnmount(const std::filesystem::path& url, const std::vector<MountedVolume>& volumes);
    void startConnectTask(const SyncJob& job);
    void runConnectTask(Uuid jobID);

    // Pure checks, run on the workers.
    static std::optional<ConnectAction> connectAction(const SyncJob& job);
    static bool endpointsAvailable(const SyncJob& job, const std::vector<MountedVolume>& volumes,
                                   const EndpointResolver::IdentityLookup& identityAt);
    static bool connectQualifies(const SyncJob& job, const std::filesystem::path& volume,
                                 const std::vector<MountedVolume>& volumes,
                                 const EndpointResolver::IdentityLookup& identityAt);
    static bool volumeAppeared(const SyncJob& job, const std::vector<MountedVolume>& volumes,
                               std::optional<Date> since, const EndpointResolver::IdentityLookup& identityAt,
                               const std::function<std::optional<Date>(const std::filesystem::path&)>& appearanceTime);

    RunRequesting& runner_;
    SystemEvents& systemEvents_;
    VolumeEvents& volumeEvents_;
    MainExecutor& main_;
    Executor& workers_;
    const Clock& clock_;
    const Services services_;
    const double settleDelay_;
    const std::shared_ptr<AnchorWrites> anchorWrites_;

    bool started_ = false;
    // A timer acts only while its generation is the newest.
    std::uint64_t timerGeneration_ = 0;
    DelayedWork timer_;
    // Per job, when a recomputation first met it enabled; kept on disk,
    // written only when one is set or dropped.
    std::map<Uuid, Date> intervalAnchors_;
    // Per job whose anchor lies ahead of the clock, where its rhythm counts
    // from meanwhile; in memory only.
    std::map<Uuid, Date> countedFrom_;
    // Per job, the start of the latest finished run the runner reported.
    std::map<Uuid, Date> observedStarts_;
    // Told to observers only when a computation changes it.
    ObservedValue<std::map<Uuid, Date>> pendingFires_;
    // Per enabled job, its triggers when pendingFires_ was computed.
    std::map<Uuid, std::vector<Trigger>> pendingTriggers_;
    // Per job, its connect task waiting out the settle delay.
    std::map<Uuid, DelayedWork> connectTasks_;
    // Volume events are handled one at a time, in order.
    std::deque<VolumeEvent> pendingVolumeEvents_;
    bool handlingVolumeEvent_ = false;

    // Work posted back to the main executor holds this weakly: it does
    // nothing once the scheduler is gone.
    const std::shared_ptr<const bool> life_ = std::make_shared<const bool>(true);
    // Last: ended first, on the main executor, so no event reaches a
    // scheduler being destroyed.
    Subscription systemSubscription_;
    Subscription volumeSubscription_;
    Subscription completionsSubscription_;
};

template <typename T>
void AutomationScheduler::offMain(std::function<T()> work, std::function<void(T)> then) {
    workers_.post([work = std::move(work), then = std::move(then), &main = main_,
                   life = std::weak_ptr<const bool>(life_)]() mutable {
        T value{};
        try {
            value = work();
        } catch (...) {
            value = T{};
        }
        main.post([then = std::move(then), value = std::move(value), life]() mutable {
            if (!life.expired()) then(std::move(value));
        });
    });
}

}  // namespace kelto
