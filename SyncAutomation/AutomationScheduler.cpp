#include "SyncAutomation/AutomationScheduler.h"

#include "SyncAutomation/ScheduleCalculator.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <set>
#include <utility>

namespace kelto {

// Anchor files are written on the workers, newest last: a write takes the
// newest anchors only once it holds `writing`, so a slower, older write can
// never land after a newer one.
struct AutomationScheduler::AnchorWrites {
    explicit AnchorWrites(const std::filesystem::path& supportDirectory) : store(supportDirectory) {}

    const IntervalAnchorStore store;
    std::mutex writing;
    std::mutex mutex;
    std::optional<std::map<Uuid, Date>> newest;  // waiting to be written
};

AutomationScheduler::AutomationScheduler(RunRequesting& runner, SystemEvents& systemEvents,
                                         VolumeEvents& volumeEvents, MainExecutor& main, Executor& workers,
                                         const Clock& clock, Services services, double settleDelay)
    : runner_(runner),
      systemEvents_(systemEvents),
      volumeEvents_(volumeEvents),
      main_(main),
      workers_(workers),
      clock_(clock),
      services_(std::move(services)),
      settleDelay_(settleDelay >= 0 ? settleDelay : 0),
      anchorWrites_(std::make_shared<AnchorWrites>(services_.supportDirectory)),
      intervalAnchors_(anchorWrites_->store.load()) {}

AutomationScheduler::~AutomationScheduler() = default;

void AutomationScheduler::start() {
    if (started_) return;
    started_ = true;
    systemSubscription_ =
        systemEvents_.observe(main_, [this](const SystemEvent& event) { systemEventOccurred(event); });
    volumeSubscription_ =
        volumeEvents_.observe(main_, [this](const VolumeEvent& event) { volumeEventOccurred(event); });
    completionsSubscription_ =
        runner_.observeCompletions(main_, [this](const RunRecord& record) { runFinished(record); });
    evaluateMissed([this] { reschedule(); });
}

void AutomationScheduler::jobsChanged() {
    if (!started_) return;
    connectTasks_.clear();  // cancels every one

    std::set<Uuid> listed;
    for (const SyncJob& job : services_.jobs()) listed.insert(job.id);
    const auto unlisted = [&](const auto& entry) { return !listed.contains(entry.first); };
    if (std::erase_if(intervalAnchors_, unlisted) > 0) keepAnchors();
    std::erase_if(countedFrom_, unlisted);
    std::erase_if(observedStarts_, unlisted);
    reschedule();
}

std::optional<Date> AutomationScheduler::pendingFire(const Uuid& jobID) const {
    const auto found = pendingFires_.get().find(jobID);
    if (found == pendingFires_.get().end()) return std::nullopt;
    return found->second;
}

Subscription AutomationScheduler::observePendingFires(std::function<void()> changed) {
    return pendingFires_.observe(std::move(changed));
}

void AutomationScheduler::reschedule() {
    const Date now = clock_.now();
    const ::date::time_zone& zone = services_.zone();
    const std::uint64_t generation = ++timerGeneration_;

    std::map<Uuid, Date> fires;
    std::map<Uuid, std::vector<Trigger>> triggers;
    std::vector<std::pair<Date, Uuid>> due;
    bool anchorsAdded = false;

    for (const SyncJob& job : services_.jobs()) {
        if (!job.isEnabled) continue;
        const auto [anchor, added] = intervalAnchors_.try_emplace(job.id, now);
        anchorsAdded = anchorsAdded || added;
        const std::optional<Date> last = lastStart(job);

        // A passed date counts only for the triggers it was computed from,
        // not when the job has started a run since, and for a job that never
        // ran not when it came from counting on a clock behind its anchor.
        if (const auto pending = pendingFires_.get().find(job.id);
            pending != pendingFires_.get().end() && pending->second <= now) {
            const auto computedFrom = pendingTriggers_.find(job.id);
            if (computedFrom != pendingTriggers_.end() && computedFrom->second == job.triggers &&
                (last ? *last < pending->second : !beforeAnchor(pending->second, anchor->second, now)))
                due.emplace_back(pending->second, job.id);
        }

        const Date base = last ? *last : rhythmStart(job.id, anchor->second, now);
        std::vector<Date> dates;
        for (const Trigger& trigger : job.triggers)
            if (const auto next = ScheduleCalculator::nextFire(trigger, now, base, zone)) dates.push_back(*next);
        if (const auto earliest = ScheduleCalculator::earliest(dates)) fires[job.id] = *earliest;
        triggers[job.id] = job.triggers;
    }

    pendingFires_.setIfChanged(std::move(fires));
    pendingTriggers_ = std::move(triggers);
    if (anchorsAdded) keepAnchors();

    std::stable_sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [date, jobID] : due) request(jobID, RunTrigger::schedule);

    std::vector<Date> pending;
    for (const auto& [jobID, date] : pendingFires_.get()) pending.push_back(date);
    const auto next = ScheduleCalculator::earliest(pending);
    if (!next) {
        timer_.cancel();
        return;
    }
    // The executor's delays run on a monotonic clock: a wall clock set
    // meanwhile or a sleep is caught by the clock-change and wake events.
    timer_ = main_.postAfter(std::max(0.0, next->secondsSince(now)),
                             [this, generation, life = std::weak_ptr<const bool>(life_)] {
                                 if (!life.expired() && generation == timerGeneration_) reschedule();
                             });
}

Date AutomationScheduler::rhythmStart(const Uuid& jobID, Date anchor, Date now) {
    // An anchor ahead of the clock (a clock behind, not yet set at boot, or
    // an anchor taken while it ran ahead) would hold the job back until the
    // clock caught up. For as long as the clock stays behind it, the rhythm
    // counts from when that was first seen instead; the anchor itself stays
    // as it was set, and counts again once the clock has reached it.
    if (anchor <= now) {
        countedFrom_.erase(jobID);
        return anchor;
    }
    Date& from = countedFrom_.try_emplace(jobID, now).first->second;
    from = std::min(from, now);
    return from;
}

bool AutomationScheduler::beforeAnchor(Date date, Date anchor, Date now) {
    // Such a date was counted from a clock that stood behind the anchor; now
    // that the clock has reached it, the rhythm counts from the anchor again.
    return date < anchor && anchor <= now;
}

void AutomationScheduler::request(const Uuid& jobID, RunTrigger trigger) {
    // A refusal (busy job, runner shutting down) is not retried: the next
    // occurrence comes from the recomputation.
    runner_.enqueue(jobID, trigger, {});
}

void AutomationScheduler::fire(const SyncJob& job, ConnectAction action, RunTrigger trigger) {
    switch (action) {
        case ConnectAction::run: request(job.id, trigger); break;
        case ConnectAction::ask: services_.onAsk(job); break;
    }
}

std::optional<Date> AutomationScheduler::lastStart(const SyncJob& job) const {
    std::optional<Date> last = services_.lastRunStart(job.id);
    if (const auto observed = observedStarts_.find(job.id); observed != observedStarts_.end())
        if (!last || observed->second > *last) last = observed->second;
    return last;
}

bool AutomationScheduler::stillListed(const SyncJob& job) const {
    const std::vector<SyncJob> jobs = services_.jobs();
    return std::find(jobs.begin(), jobs.end(), job) != jobs.end();
}

void AutomationScheduler::systemEventOccurred(SystemEvent event) {
    switch (event) {
        case SystemEvent::wokeFromSleep: evaluateMissed([this] { reschedule(); }); break;
        case SystemEvent::clockChanged:
        case SystemEvent::timeZoneChanged: reschedule(); break;
    }
}

void AutomationScheduler::runFinished(const RunRecord& record) {
    // Before the recomputation, so an interval counts from this run's start.
    observedStarts_[record.jobID] = record.startedAt;
    reschedule();
}

void AutomationScheduler::keepAnchors() {
    bool writePosted = false;
    {
        const std::lock_guard lock(anchorWrites_->mutex);
        writePosted = anchorWrites_->newest.has_value();
        anchorWrites_->newest = intervalAnchors_;
    }
    if (writePosted) return;  // the write on its way takes these
    workers_.post([writes = anchorWrites_] {
        const std::lock_guard writing(writes->writing);
        std::optional<std::map<Uuid, Date>> anchors;
        {
            const std::lock_guard lock(writes->mutex);
            anchors = std::exchange(writes->newest, std::nullopt);
        }
        if (!anchors) return;
        try {
            writes->store.save(*anchors);
        } catch (const std::exception&) {
            // Kept in memory; the next change writes them all again.
        }
    });
}

}  // namespace kelto
