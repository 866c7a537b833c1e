#include "SyncEngine/TwoWayEngine.h"

#include "SyncEngine/CancellationError.h"
#include "SyncEngine/PathKey.h"
#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncEngine/TwoWayPlanner.h"
#include "SyncEngine/internal/ContentCheck.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncEngine/internal/OverlapMarkers.h"
#include "SyncEngine/internal/RacyWindow.h"
#include "SyncEngine/internal/SeenOnDisk.h"
#include "SyncEngine/internal/TimeProbe.h"
#include "SyncEngine/internal/TwoWayListState.h"
#include "SyncEngine/internal/TwoWayRun.h"

#include <algorithm>
#include <exception>
#include <string>
#include <thread>
#include <tuple>
#include <unordered_set>
#include <vector>

namespace kelto {

namespace {

// Runs rsync's listing of `root` into the state; the caller finishes it.
// What `markers` catches stays out of it.
void runListing(const RsyncRunner& runner, const SyncJob& job, const TwoWaySide& side, std::stop_token stop,
                TwoWayListState& state, const OverlapMarkers* markers = nullptr,
                OverlapMarkers::Walk walk = OverlapMarkers::Walk::a) {
    RsyncInvocation invocation;
    invocation.operation = RsyncOperation::listOnly();
    invocation.source = side.root;
    invocation.traits = side.traits;
    invocation.filters = job.filters;
    if (markers) invocation.alwaysListed = markers->names();
    invocation.leaveOutMarkers = true;
    const RsyncExit exit = runner.run(
        RsyncArguments::build(invocation), RsyncOutputParser::Mode::listOnly, stop, nullptr, [&](RsyncEvent&& event) {
            std::optional<SyncProgress> report;
            {
                std::lock_guard guard(state.lock);
                if (ListEntry* entry = event.asListEntry()) {
                    if (!markers || !markers->catches(entry->path, walk)) report = state.record(std::move(*entry));
                } else if (const std::string* line = event.asDiagnostic()) {
                    state.recordOtherLine(*line);
                }
            }
            if (report) state.onProgress(*report);
        });
    if (stop.stop_requested()) throw CancellationError();
    if (exit.code != 0 && exit.code != 24) throw TwoWayEngineError::scanFailed(exit.code, exit.stderrTail);
    std::optional<std::string> unreadable;
    {
        std::lock_guard guard(state.lock);
        unreadable = state.unreadableLine;
    }
    if (unreadable) {
        // A dropped entry would read as deleted on this side.
        std::vector<std::string> tail = exit.stderrTail;
        tail.push_back("Unreadable listing line: " + *unreadable);
        throw TwoWayEngineError::scanFailed(TwoWayEngine::unreadableListingCode, RsyncExit(0, std::move(tail)).stderrTail);
    }
}

void report(const TwoWayEngine::ProgressHandler& onProgress, const SyncProgress& progress) {
    if (onProgress) onProgress(progress);
}

PathKeySet keysOf(const std::vector<std::string>& paths) {
    PathKeySet keys;
    keys.reserve(paths.size());
    std::string storage;
    for (const std::string& path : paths) keys.emplace(PathKey::of(path, storage));
    return keys;
}

void dropSkipped(std::vector<std::string>& paths, const std::vector<SkippedFile>& skipped) {
    if (skipped.empty()) return;
    std::vector<std::string> skippedPaths;
    for (const SkippedFile& file : skipped) skippedPaths.push_back(file.path);
    const PathKeySet keys = keysOf(skippedPaths);
    std::string storage;
    std::erase_if(paths, [&](const std::string& path) { return keys.contains(PathKey::of(path, storage)); });
}

// A side is written only while it leads to the folder the plan was made
// on: a link along its path retargeted, a folder renamed into its place or
// a file system mounted over it since would send rsync elsewhere.
void checkPlannedFolders(const TwoWayPlan& plan, const TwoWaySide& a, const TwoWaySide& b) {
    EndpointCheck::require<TwoWayEngineError>(EndpointCheck::replaced(a.root, b.root, plan.folderA, plan.folderB));
}

}  // namespace

void TwoWayEngine::checkEndpoints(const SyncJob& job, const std::filesystem::path& a, const std::filesystem::path& b,
                                  const TreeOverlap& treesOverlap) {
    if (job.mode != SyncMode::twoWay) throw TwoWayEngineError::unsupportedMode();
    EndpointCheck::require<TwoWayEngineError>(EndpointCheck::firstFault(a, b, treesOverlap));
    if (job.source.volume.isReadOnly || job.destination.volume.isReadOnly) throw TwoWayEngineError::readOnlyEndpoint();
}

SideListing TwoWayEngine::list(const SyncJob& job, const TwoWaySide& side, std::int64_t offset, std::stop_token stop,
                               const ProgressHandler& onProgress) const {
    if (stop.stop_requested()) throw CancellationError();
    TwoWayListState state(offset, onProgress, *clock);
    report(onProgress, TwoWayListState::scanningReport(std::nullopt, offset));
    runListing(runner, job, side, stop, state);
    return state.finish();
}

std::pair<SideListing, SideListing> TwoWayEngine::listBoth(const SyncJob& job, const TwoWaySide& sideA,
                                                           const TwoWaySide& sideB, std::stop_token stop,
                                                           const ProgressHandler& onProgress) const {
    if (stop.stop_requested()) throw CancellationError();
    TwoWayListState stateA(0, onProgress, *clock);
    TwoWayListState stateB(0, onProgress, *clock);
    stateB.reporting = false;  // B's reports wait until A's listing has ended

    // Both walks at once, each with both sides marked: one met from the
    // other is refused.
    const OverlapMarkers markers(sideA.root, sideB.root, job.filters, treesOverlap, stop);
    if (markers.seenSoFar()) throw TwoWayEngineError::nestedEndpoints();
    std::exception_ptr errorB;
    // Destroyed (stopped and joined) on every way out, before the states.
    std::jthread listerB([&](std::stop_token stopB) {
        try {
            runListing(runner, job, sideB, stopB, stateB, &markers, OverlapMarkers::Walk::b);
        } catch (...) {
            errorB = std::current_exception();
        }
    });
    std::stop_callback forward(stop, [&listerB] { listerB.request_stop(); });

    report(onProgress, TwoWayListState::scanningReport(std::nullopt, 0));
    try {
        runListing(runner, job, sideA, stop, stateA, &markers, OverlapMarkers::Walk::a);
    } catch (...) {
        if (!markers.seen()) throw;
    }
    if (markers.seen()) throw TwoWayEngineError::nestedEndpoints();
    SideListing listingA = stateA.finish();

    const auto countA = static_cast<std::int64_t>(listingA.size());
    report(onProgress, TwoWayListState::scanningReport(std::nullopt, countA));
    {
        std::lock_guard guard(stateB.lock);
        stateB.offset = countA;
        stateB.reporting = true;
    }
    listerB.join();
    if (markers.seen()) throw TwoWayEngineError::nestedEndpoints();
    if (errorB) std::rethrow_exception(errorB);
    if (stop.stop_requested()) throw CancellationError();
    return {std::move(listingA), stateB.finish()};
}

std::pair<SyncPlan, TwoWayPlan> TwoWayEngine::plan(const SyncJob& job, const TwoWaySide& sideA,
                                                   const TwoWaySide& sideB, BaselineStore& baseline,
                                                   std::stop_token stop, const ProgressHandler& onProgress,
                                                   Basis* basis) const {
    checkEndpoints(job, sideA.root, sideB.root, treesOverlap);
    // What the plan is of: a side that leads elsewhere by the run's checks
    // (even while the plan is made) is not written.
    const std::optional<FolderIdentity> folderA = FolderIdentity::of(sideA.root),
                                        folderB = FolderIdentity::of(sideB.root);
    // The baseline is read while rsync lists; a listing failure still comes first.
    std::optional<Baseline> base;
    std::exception_ptr loadError;
    SideListing listingA, listingB;
    const SeenOnDisk::Start lookStart =
        SeenOnDisk::Start::now(std::max(SeenOnDisk::stepOf(sideA.root), SeenOnDisk::stepOf(sideB.root)), stop);
    const std::int64_t window = std::max(sideA.traits.modifyWindow, sideB.traits.modifyWindow);
    const RacyWindow racy = RacyWindow::now(sideA.root, sideB.root, window);
    {
        std::jthread loader([&] {
            try {
                base = baseline.load(sideA.volumeUUID, sideB.volumeUUID);
            } catch (...) {
                loadError = std::current_exception();
            }
        });
        std::tie(listingA, listingB) = listBoth(job, sideA, sideB, stop, onProgress);
    }
    if (loadError) std::rethrow_exception(loadError);
    TimeProbe probeA(sideA.root), probeB(sideB.root);
    ContentCheck contents(sideA.root, sideB.root, stop);
    TwoWayPlan twoWay = TwoWayPlanner::plan(listingA, listingB, base, window, TimeProbe::keptOnSides(probeA, probeB),
                                            contents.asked(), racy.dueUntil());
    // Both sides receive; each name is judged by the disk it lands on, the
    // side's own or one mounted below it.
    applyPreflightSkips(twoWay, listingA, listingB, sideA.traits.withDisksBelow(sideA.root),
                        sideB.traits.withDisksBelow(sideB.root));
    twoWay.folderA = folderA;
    twoWay.folderB = folderB;
    SyncPlan syncPlan = TwoWayPlanner::makeSyncPlan(twoWay, listingA, listingB);
    // The listings show whole seconds and no file numbers: what the plan
    // takes (deletes, or replaces by a copy) is looked at on disk at once, to
    // the fraction and the number. What changed since the listings began has
    // no version the plan saw, and is kept.
    SeenOnDisk diskA(sideA.root, lookStart), diskB(sideB.root, lookStart);
    const auto onDisk = [&](std::vector<SeenVersion>& items) {
        std::erase_if(items, [&](SeenVersion& item) {
            std::optional<ItemVersion> version = (item.on == Side::a ? diskA : diskB).listed(item.path, item.version);
            if (version) item.version = *version;
            return !version;
        });
    };
    onDisk(syncPlan.seen);
    twoWay.seen = syncPlan.seen;
    std::vector<SeenVersion> replaced;
    for (const auto& [copies, destination, on] : {std::tuple{&twoWay.copyAtoB, &listingB, Side::b},
                                                  std::tuple{&twoWay.copyBtoA, &listingA, Side::a}})
        for (const std::string& path : *copies)
            if (const auto entry = destination->find(PathKey::of(path)))
                replaced.push_back(SeenVersion{std::string(entry->actualPath), on,
                                               ItemVersion::listed(entry->kind, entry->size, entry->mtime)});
    onDisk(replaced);
    twoWay.seen.insert(twoWay.seen.end(), replaced.begin(), replaced.end());
    syncPlan.folderA = folderA;
    syncPlan.folderB = folderB;

    SyncProgress planning;
    planning.phase = SyncPhase::planning;
    planning.scannedItems = static_cast<std::int64_t>(listingA.size() + listingB.size());
    if (basis) *basis = Basis{std::move(base), std::move(listingA), std::move(listingB), racy.listedAt};
    report(onProgress, planning);
    return {std::move(syncPlan), std::move(twoWay)};
}

std::pair<RunStats, RsyncExit> TwoWayEngine::run(const SyncJob& job, const TwoWayPlan& plan, const TwoWaySide& sideA,
                                                 const TwoWaySide& sideB, BaselineStore& baseline,
                                                 const std::string& runID, RunLogSink& log, std::stop_token stop,
                                                 const ProgressHandler& onProgress, Basis* basis) const {
    checkEndpoints(job, sideA.root, sideB.root, treesOverlap);
    checkPlannedFolders(plan, sideA, sideB);
    const TwoWayRun::Lister listBothSides = [this, &job, &sideA, &sideB](std::stop_token listStop) {
        return listBoth(job, sideA, sideB, std::move(listStop), nullptr);
    };
    // Before each direction's transfer and the deletions.
    const TwoWayRun::Check checkAgain = [this, &job, &plan, &sideA, &sideB] {
        checkEndpoints(job, sideA.root, sideB.root, treesOverlap);
        checkPlannedFolders(plan, sideA, sideB);
    };
    return TwoWayRun(runner, *clock, listBothSides, job, plan, sideA, sideB, baseline, runID, log, std::move(stop),
                     onProgress, listFolder, checkAgain, basis)
        .perform();
}

void TwoWayEngine::applyPreflightSkips(TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB,
                                       const FileSystemTraits& traitsA, const FileSystemTraits& traitsB) {
    auto keep = [](std::vector<SkippedFile> candidates, const std::vector<std::string>& copies) {
        if (candidates.empty()) return candidates;
        const PathKeySet planned = keysOf(copies);
        std::string storage;
        std::erase_if(candidates,
                      [&](const SkippedFile& file) { return !planned.contains(PathKey::of(file.path, storage)); });
        return candidates;
    };
    // rsync copies no pipe, socket or device (it is never given --devices
    // nor --specials): a copy of one is named among the skipped instead.
    auto specials = [](const SideListing& source, const std::vector<std::string>& copies) {
        std::vector<std::string> found;
        for (const SideListing::Ref entry : source)
            if (entry.kind == EntryKind::other) found.emplace_back(entry.actualPath);
        std::vector<SkippedFile> skipped;
        if (found.empty()) return skipped;
        const PathKeySet keys = keysOf(found);
        std::string storage;
        for (const std::string& path : copies)
            if (keys.contains(PathKey::of(path, storage)))
                skipped.push_back(SkippedFile{path, FileSkipReason::specialFile});
        return skipped;
    };
    std::vector<SkippedFile> toB = specials(sideA, plan.copyAtoB), toA = specials(sideB, plan.copyBtoA);
    auto add = [](std::vector<SkippedFile>& to, std::vector<SkippedFile> more) {
        to.insert(to.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
    };
    if (!plan.copyAtoB.empty()) add(toB, keep(preflightCandidates(sideA, sideB, traitsB), plan.copyAtoB));
    if (!plan.copyBtoA.empty()) add(toA, keep(preflightCandidates(sideB, sideA, traitsA), plan.copyBtoA));
    dropSkipped(plan.copyAtoB, toB);
    dropSkipped(plan.copyBtoA, toA);

    std::vector<SkippedFile> skipped = std::move(plan.skipped);  // the planner's own
    skipped.insert(skipped.end(), toA.begin(), toA.end());
    skipped.insert(skipped.end(), toB.begin(), toB.end());
    std::unordered_set<std::string_view> seen;
    std::vector<SkippedFile> unique;
    for (const SkippedFile& file : skipped)
        if (seen.insert(file.path).second) unique.push_back(file);
    std::stable_sort(unique.begin(), unique.end(), [](const SkippedFile& x, const SkippedFile& y) {
        return PathKey::of(x.path) < PathKey::of(y.path);
    });
    plan.skipped = std::move(unique);
}

std::vector<SkippedFile> TwoWayEngine::preflightCandidates(const SideListing& source, const SideListing& destination,
                                                           const FileSystemTraits& destinationTraits) {
    // Such a volume takes every name and size, and tells every spelling apart.
    if (destinationTraits.takesEverything()) return {};
    std::vector<PreflightSkips::Candidate> candidates;
    candidates.reserve(source.size() + destination.size());
    for (const SideListing* listing : {&source, &destination})
        for (const SideListing::Ref entry : *listing)
            candidates.push_back({std::string(entry.actualPath), entry.kind == EntryKind::directory ? 0 : entry.size});
    return PreflightSkips::evaluate(candidates, destinationTraits);
}

}  // namespace kelto
