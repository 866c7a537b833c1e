#include "SyncAutomation/AutomationScheduler.h"

#include "SyncAutomation/FileSystemPlaces.h"
#include "SyncAutomation/ScheduleCalculator.h"
#include "SyncModel/Support/PathComponents.h"

#include <algorithm>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// Component-wise, so /media/Back holds nothing of /media/Backup; a path lies
// under itself.
bool liesUnder(const fs::path& path, const fs::path& folder) {
    return PathComponents::isPrefix(PathComponents::of(folder), PathComponents::of(path));
}

bool sameLocation(const fs::path& a, const fs::path& b) {
    return PathComponents::of(a) == PathComponents::of(b);
}

}  // namespace

struct AutomationScheduler::CatchUpPass {
    std::vector<MountedVolume> volumes;
    Date now;
    std::vector<SyncJob> jobs;
    std::size_t next = 0;
    std::function<void()> then;
};

struct AutomationScheduler::MountHandling {
    fs::path url;
    std::vector<MountedVolume> volumes;
    std::vector<SyncJob> jobs;
    std::size_t next = 0;
};

// The pass asks at most once per job and never waits for runs. A job with a
// missed occurrence gets a catch-up run and is not examined for on-connect.
void AutomationScheduler::evaluateMissed(std::function<void()> then) {
    offMain<std::vector<MountedVolume>>(services_.volumes, [this, then](std::vector<MountedVolume> volumes) {
        auto pass = std::make_shared<CatchUpPass>();
        pass->volumes = std::move(volumes);
        pass->now = clock_.now();
        pass->jobs = services_.jobs();
        pass->then = then;
        continueCatchUp(pass);
    });
}

void AutomationScheduler::continueCatchUp(const std::shared_ptr<CatchUpPass>& pass) {
    while (pass->next < pass->jobs.size()) {
        const SyncJob& job = pass->jobs[pass->next++];
        if (!job.isEnabled) continue;
        if (ScheduleCalculator::missedOccurrence(job.triggers, lastStart(job), pass->now, services_.zone())) {
            // The recomputation after the pass then finds no due date for it.
            if (pendingFires_.get().contains(job.id))
                pendingFires_.modify([&](std::map<Uuid, Date>& fires) { fires.erase(job.id); });
            request(job.id, RunTrigger::catchUp);
            continue;
        }
        const auto action = connectAction(job);
        if (!action) continue;
        offMain<bool>(
            [job, volumes = pass->volumes, since = services_.lastSuccessEnd(job.id),
             identityAt = services_.identityAt, appearanceTime = services_.appearanceTime] {
                return volumeAppeared(job, volumes, since, identityAt, appearanceTime);
            },
            [this, pass, job, action = *action](bool appeared) {
                if (appeared && stillListed(job)) fire(job, action, RunTrigger::catchUp);
                continueCatchUp(pass);
            });
        return;
    }
    if (pass->then) pass->then();
}

void AutomationScheduler::volumeEventOccurred(const VolumeEvent& event) {
    pendingVolumeEvents_.push_back(event);
    if (!handlingVolumeEvent_) handleNextVolumeEvent();
}

void AutomationScheduler::handleNextVolumeEvent() {
    if (pendingVolumeEvents_.empty()) {
        handlingVolumeEvent_ = false;
        return;
    }
    handlingVolumeEvent_ = true;
    const VolumeEvent event = std::move(pendingVolumeEvents_.front());
    pendingVolumeEvents_.pop_front();
    offMain<std::vector<MountedVolume>>(services_.volumes, [this, event](std::vector<MountedVolume> volumes) {
        if (event.kind == VolumeEvent::Case::unmounted) {
            handleUnmount(event.url, volumes);
            handleNextVolumeEvent();
            return;
        }
        auto mount = std::make_shared<MountHandling>();
        mount->url = event.url;
        mount->volumes = std::move(volumes);
        mount->jobs = services_.jobs();
        continueMount(mount);
    });
}

void AutomationScheduler::continueMount(const std::shared_ptr<MountHandling>& mount) {
    while (mount->next < mount->jobs.size()) {
        const SyncJob& job = mount->jobs[mount->next++];
        if (!job.isEnabled || !connectAction(job)) continue;
        offMain<bool>(
            [job, url = mount->url, volumes = mount->volumes, identityAt = services_.identityAt] {
                return connectQualifies(job, url, volumes, identityAt);
            },
            [this, mount, job](bool qualifies) {
                if (qualifies && stillListed(job)) startConnectTask(job);
                continueMount(mount);
            });
        return;
    }
    handleNextVolumeEvent();
}

void AutomationScheduler::handleUnmount(const fs::path& url, const std::vector<MountedVolume>& volumes) {
    const auto touches = [&](const Endpoint& endpoint) {
        if (liesUnder(endpoint.path, url)) return true;
        return endpoint.volume.uuid && std::any_of(volumes.begin(), volumes.end(), [&](const MountedVolume& v) {
                   return sameLocation(v.root, url) && v.identity.uuid == endpoint.volume.uuid;
               });
    };
    for (const SyncJob& job : services_.jobs()) {
        if (!touches(job.source) && !touches(job.destination)) continue;
        connectTasks_.erase(job.id);  // cancels it
        if (services_.withdrawAsk && connectAction(job) == ConnectAction::ask) services_.withdrawAsk(job.id);
    }
}

void AutomationScheduler::startConnectTask(const SyncJob& job) {
    // Replacing the entry cancels the task it held.
    connectTasks_[job.id] =
        main_.postAfter(settleDelay_, [this, jobID = job.id, life = std::weak_ptr<const bool>(life_)] {
            if (!life.expired()) runConnectTask(jobID);
        });
}

// After the delay only the availability of both sides counts, whichever
// volume mounted; the job as it is now replaces the one the task began with.
void AutomationScheduler::runConnectTask(Uuid jobID) {
    // A copy: ending this very task's handle may destroy the work that
    // called here, and with it what a reference would point to.
    connectTasks_.erase(jobID);  // nothing cancels it any more
    offMain<std::vector<MountedVolume>>(services_.volumes, [this, jobID](std::vector<MountedVolume> volumes) {
        const std::vector<SyncJob> jobs = services_.jobs();
        const auto current = std::find_if(jobs.begin(), jobs.end(),
                                          [&](const SyncJob& job) { return job.id == jobID && job.isEnabled; });
        if (current == jobs.end()) return;
        const auto action = connectAction(*current);
        if (!action) return;
        offMain<bool>(
            [job = *current, volumes = std::move(volumes), identityAt = services_.identityAt] {
                return endpointsAvailable(job, volumes, identityAt);
            },
            [this, job = *current, action = *action](bool available) {
                if (available && stillListed(job)) fire(job, action, RunTrigger::connect);
            });
    });
}

std::optional<ConnectAction> AutomationScheduler::connectAction(const SyncJob& job) {
    for (const Trigger& trigger : job.triggers)
        if (const auto* onConnect = trigger.as<Trigger::OnConnect>()) return onConnect->action;
    return std::nullopt;
}

bool AutomationScheduler::endpointsAvailable(const SyncJob& job, const std::vector<MountedVolume>& volumes,
                                             const EndpointResolver::IdentityLookup& identityAt) {
    const auto available = [&](const Endpoint& endpoint) {
        return EndpointResolver::resolve(endpoint, volumes, identityAt).kind == EndpointResolution::Case::available;
    };
    return available(job.source) && available(job.destination);
}

// A mount concerns a job when one of its sides resolves onto that volume; the
// volume's kind does not matter here.
bool AutomationScheduler::connectQualifies(const SyncJob& job, const fs::path& volume,
                                           const std::vector<MountedVolume>& volumes,
                                           const EndpointResolver::IdentityLookup& identityAt) {
    const auto onVolume = [&](const Endpoint& endpoint) {
        const EndpointResolution resolution = EndpointResolver::resolve(endpoint, volumes, identityAt);
        return resolution.kind == EndpointResolution::Case::available && liesUnder(resolution.url, volume);
    };
    if (!onVolume(job.source) && !onVolume(job.destination)) return false;
    return endpointsAvailable(job, volumes, identityAt);
}

// Only removable drives count as appeared: internal and network volumes are
// served by mounts alone.
bool AutomationScheduler::volumeAppeared(
    const SyncJob& job, const std::vector<MountedVolume>& volumes, std::optional<Date> since,
    const EndpointResolver::IdentityLookup& identityAt,
    const std::function<std::optional<Date>(const fs::path&)>& appearanceTime) {
    if (!endpointsAvailable(job, volumes, identityAt)) return false;
    for (const Endpoint* endpoint : {&job.source, &job.destination}) {
        if (endpoint->volume.kind != VolumeKind::removable) continue;
        const EndpointResolution resolution = EndpointResolver::resolve(*endpoint, volumes, identityAt);
        if (resolution.kind != EndpointResolution::Case::available) continue;
        const MountedVolume* holder = FileSystemPlaces::holder(volumes, resolution.url);
        if (!holder) continue;
        const std::optional<Date> appeared = appearanceTime(holder->root);
        if (!appeared) continue;
        if (!since || *appeared > *since) return true;
    }
    return false;
}

}  // namespace kelto
