#include "SyncEngine/OneWayEngine.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncEngine/SpellingAlignment.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncEngine/internal/ExcludeFile.h"
#include "SyncEngine/internal/OneWayLines.h"
#include "SyncEngine/internal/OverlapMarkers.h"
#include "SyncEngine/internal/SeenOnDisk.h"
#include "SyncEngine/internal/SideStat.h"
#include "SyncEngine/internal/TimeProbe.h"

#include <sys/stat.h>

#include <chrono>
#include <mutex>
#include <optional>

namespace kelto {

namespace fs = std::filesystem;

using namespace OneWayLines;

namespace {

// The lines of one dry run, with throttled reports of the scan.
class ScanState {
public:
    ScanState(const Clock& clock, const OneWayEngine::ProgressHandler* onProgress)
        : clock_(clock), onProgress_(onProgress) {}

    void append(ItemizedChange&& item) {
        std::optional<SyncProgress> progress;
        {
            std::lock_guard guard(lock_);
            items_.push_back(std::move(item));
            const double now = clock_.monotonicSeconds();
            if (onProgress_ && now - lastEmission_ >= OneWayEngine::reportInterval) {
                lastEmission_ = now;
                progress = phaseReport(SyncPhase::scanning, static_cast<std::int64_t>(items_.size()));
                progress->currentPath = items_.back().path;
            }
        }
        if (progress) report(onProgress_, *progress);
    }

    std::vector<ItemizedChange> collectedItems() {
        std::vector<ItemizedChange> items;
        {
            std::lock_guard guard(lock_);
            items = std::move(items_);
        }
        report(onProgress_, phaseReport(SyncPhase::scanning, static_cast<std::int64_t>(items.size())));
        return items;
    }

private:
    std::mutex lock_;
    std::vector<ItemizedChange> items_;
    double lastEmission_ = distantPast;
    const Clock& clock_;
    const OneWayEngine::ProgressHandler* onProgress_;
};

std::string withTrailingSlash(const fs::path& folder) {
    std::string text = folder.native();
    if (!text.ends_with('/')) text.push_back('/');
    return text;
}

// Files that rsync would copy again only because B's file system cannot
// keep A's time: it turned it into the time B holds (ext4 clamps to 1901 to
// 2446, FAT to 1980 on). A copy would change nothing, and archiving B's
// version on every run would keep the same content again and again.
std::vector<SkippedFile> clampedTimes(const std::vector<ItemizedChange>& lines, const fs::path& source,
                                      const fs::path& destination, std::int64_t window) {
    std::vector<SkippedFile> skipped;
    std::optional<SideStat> onA, onB;
    std::optional<TimeProbe> probe;
    for (const ItemizedChange& line : lines) {
        if (line.code != ">f..t......") continue;  // only the time differs
        if (!onA) {
            onA.emplace(source);
            onB.emplace(destination);
            probe.emplace(destination);
        }
        const std::optional<struct stat> a = statOrAbsent(*onA, line.path);
        const std::optional<struct stat> b = statOrAbsent(*onB, line.path);
        if (!a || !b || a->st_size != b->st_size) continue;
        if (probe->keepsAs(a->st_mtim.tv_sec, b->st_mtim.tv_sec, window))
            skipped.push_back(SkippedFile{line.path, FileSkipReason::timeOutOfRange});
    }
    return skipped;
}

// B's items that the plan replaces or deletes, in the versions the dry runs
// compared: the versions the run may drop. What cannot be read, or changed
// after the first dry run began, has no version, and is kept.
std::vector<SeenVersion> seenVersions(const std::vector<PlannedArchive>& archives, const fs::path& destination,
                                      SeenOnDisk::Start lookStart) {
    std::vector<SeenVersion> seen;
    seen.reserve(archives.size());
    SeenOnDisk onB(destination, lookStart);
    for (const PlannedArchive& archive : archives)
        if (std::optional<ItemVersion> version = onB.now(archive.path))
            seen.push_back(SeenVersion{archive.path, Side::b, *version});
    return seen;
}

}  // namespace

void OneWayEngine::checkEndpoints(const SyncJob& job, const fs::path& source, const fs::path& destination,
                                  const TreeOverlap& treesOverlap) {
    if (job.mode == SyncMode::twoWay) throw OneWayEngineError::unsupportedMode();
    EndpointCheck::require<OneWayEngineError>(EndpointCheck::firstFault(source, destination, treesOverlap));
    if (job.destination.volume.isReadOnly) throw OneWayEngineError::readOnlyDestination();
}

RsyncExit OneWayEngine::runRsync(const std::vector<std::string>& arguments, std::stop_token stop,
                                 const RsyncRunner::RawLineHandler& onRawLine,
                                 const RsyncRunner::EventHandler& onEvent,
                                 std::optional<std::pair<int, int>> between) const {
    const auto start = std::chrono::steady_clock::now();
    RsyncExit exit = between ? runner.runBetween(between->first, between->second, arguments,
                                                 RsyncOutputParser::Mode::transfer, stop, onRawLine, onEvent)
                             : runner.run(arguments, RsyncOutputParser::Mode::transfer, stop, onRawLine, onEvent);
    if (onRsyncRunTimed)
        onRsyncRunTimed(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return exit;
}

std::vector<ItemizedChange> OneWayEngine::scan(const SyncJob& job, const fs::path& source, const fs::path& destination,
                                               const FileSystemTraits& traits,
                                               const std::vector<SkippedFile>& excluded, std::stop_token stop,
                                               const ProgressHandler* onProgress,
                                               std::vector<SkippedFile>* passedOver,
                                               std::vector<SkippedFile>* refused) const {
    const std::string sourceFolder = withTrailingSlash(source), destinationFolder = withTrailingSlash(destination);
    // A disk may refuse even to look up a name it cannot hold (exFAT through
    // FUSE, a name that is no UTF-8), and the dry run then ends 23, naming
    // it. Such names are kept out and the dry run made again: its end is
    // the verdict.
    std::vector<SkippedFile> keptOut = excluded, refusedNames;
    // Names are judged by the disk they land on, with the mounts below B as they are now.
    const FileSystemTraits landing = traits.withDisksBelow(destination);
    for (bool again = false;; again = true) {
        // Always a mirror, also for copy jobs: the deletion lines show what only B holds.
        RsyncInvocation invocation = invocationFor(job, true, true, source, destination, traits);
        std::optional<ExcludeFile> excludes;
        if (!keptOut.empty()) {
            excludes.emplace(listFolder).write(keptOut);
            invocation.extraExcludeFile = excludes->path();
        }

        ScanState state(*clock, onProgress);
        std::vector<SkippedFile> specials, unheld;
        // A dry run walks both folders: one met from the other is refused.
        const OverlapMarkers markers(source, destination, job.filters, treesOverlap, stop);
        if (markers.seenSoFar()) throw OneWayEngineError::nestedEndpoints();
        invocation.alwaysListed = markers.names();
        const RsyncExit exit = runRsync(RsyncArguments::build(invocation), stop, nullptr, [&](RsyncEvent&& event) {
            if (ItemizedChange* item = event.asItem()) {
                const auto walk = isDeletion(*item) ? OverlapMarkers::Walk::b : OverlapMarkers::Walk::a;
                if (!markers.catches(item->path, walk)) state.append(std::move(*item));
            } else if (const std::string* line = event.asDiagnostic()) {
                if (std::optional<std::string> path = RsyncOutputParser::passedOverPath(*line))
                    specials.push_back(SkippedFile{std::move(*path), FileSkipReason::specialFile});
                for (std::string& path : RsyncOutputParser::quotedPaths(*line, sourceFolder, destinationFolder))
                    if (!path.empty() && !path.starts_with('/') && !PreflightSkips::holdsPath(landing, path))
                        unheld.push_back(SkippedFile{std::move(path), FileSkipReason::nameNotAllowed});
            }
        });
        // A stopped run waits for no lookup; any other waits for all of them.
        if (stop.stop_requested()) throw OneWayEngineError::scanFailed(RsyncRunner::cancelledCode, exit.stderrTail);
        if (markers.seen()) throw OneWayEngineError::nestedEndpoints();
        if (exit.code == 23 && !again && !unheld.empty()) {
            checkExcludable(unheld);
            addSkips(refusedNames, unheld);
            addSkips(keptOut, unheld);
            continue;
        }
        if (exit.code != 0 && exit.code != 24) throw OneWayEngineError::scanFailed(exit.code, exit.stderrTail);
        if (passedOver) addSkips(*passedOver, specials);
        if (refused) addSkips(*refused, refusedNames);
        return state.collectedItems();
    }
}

SyncPlan OneWayEngine::planFromScans(const std::vector<ItemizedChange>& first,
                                     const std::vector<ItemizedChange>* finalScan, SyncMode mode,
                                     std::vector<SkippedFile> skipped, const fs::path& destination) {
    const std::vector<ItemizedChange>& final = finalScan ? *finalScan : first;
    const bool mirror = mode == SyncMode::mirror;
    const std::vector<bool> replacedInFirst = replacesOtherKind(first, destination);
    const std::vector<bool> replacedInFinal = finalScan ? replacesOtherKind(final, destination) : replacedInFirst;

    SyncPlan plan;
    // The exclusion keeps rsync away from the reserved tree; a line that says
    // otherwise is never planned nor counted.
    for (std::size_t i = 0; i < final.size(); ++i) {
        const ItemizedChange& line = final[i];
        if (isReserved(line)) continue;
        if (isReceivedFile(line)) plan.copies.push_back(PlannedCopy{line.path, line.size, Side::b});
        if (replacedInFinal[i]) {
            // B's entry goes whatever the job's mode; a copy job replaces it too.
            plan.archives.push_back(PlannedArchive{withoutTrailingSlash(line.path), Side::b});
        } else if (!isDirectory(line) && !isRoot(line) &&
                   ((isDeletion(line) && mirror) || (!isNew(line) && (isReceivedFile(line) || isChangedLink(line))))) {
            plan.archives.push_back(PlannedArchive{line.path, Side::b});
        }
        if (mirror && isDeletion(line)) ++plan.deletionCount;
    }
    for (std::size_t i = 0; i < first.size(); ++i) {
        const ItemizedChange& line = first[i];
        if (isReserved(line)) continue;
        if (replacedInFirst[i]) ++plan.entryCountB;  // B's entry, whatever A's is
        if (isDirectory(line) || isRoot(line)) continue;
        if (!isDeletion(line)) ++plan.entryCountA;
        if (isDeletion(line) || !isNew(line)) ++plan.entryCountB;
    }
    plan.skipped = std::move(skipped);
    return plan;
}

SyncPlan OneWayEngine::plan(const SyncJob& job, const fs::path& source, const fs::path& destination,
                            const FileSystemTraits& traits, std::stop_token stop, const ProgressHandler& onProgress,
                            Basis* basis) const {
    checkEndpoints(job, source, destination, treesOverlap);
    // What the plan is of: a side that leads elsewhere by the run's checks
    // (even while the plan is made) is not written.
    const std::optional<FolderIdentity> folderA = FolderIdentity::of(source), folderB = FolderIdentity::of(destination);
    const ProgressHandler* reports = onProgress ? &onProgress : nullptr;
    report(reports, phaseReport(SyncPhase::scanning));

    // rsync passes over pipes, sockets and devices by itself, itemising none.
    std::vector<SkippedFile> specials;
    const SeenOnDisk::Start lookStart = startOfLook(destination, stop);
    std::vector<SkippedFile> refused;  // names B's disk would not even look up
    std::vector<ItemizedChange> first =
        scan(job, source, destination, traits, {}, stop, reports, &specials, &refused);

    std::vector<PreflightSkips::Candidate> candidates;
    candidates.reserve(first.size());
    for (const ItemizedChange& line : first) {
        if (isDeletion(line) || line.path == "." || line.path == "./" || isReserved(line)) continue;
        candidates.push_back({line.path, isDirectory(line) ? 0 : line.size});
    }
    // Each name is judged by the disk it lands on: B's, or one mounted below it.
    const FileSystemTraits landing = traits.withDisksBelow(destination);
    std::vector<SkippedFile> skipped = PreflightSkips::evaluate(candidates, landing);
    addSkips(skipped, refused);
    addSkips(skipped, PreflightSkips::normalisationTwins(candidates, landing));
    addSkips(skipped, clampedTimes(first, source, destination, traits.modifyWindow));
    // Items of B spelled otherwise than A's are renamed, not deleted.
    std::vector<SkippedFile> unsure;
    std::vector<PlannedRename> renames = SpellingAlignment::respellings(first, destination, landing, unsure);
    addSkips(skipped, unsure);
    checkExcludable(skipped);

    std::optional<std::vector<ItemizedChange>> second;
    if (!skipped.empty()) {
        std::vector<SkippedFile> keptOut = skipped;
        addSkips(keptOut, SpellingAlignment::otherSpellingsOnB(skipped, first, landing));
        checkExcludable(keptOut);
        second = scan(job, source, destination, traits, keptOut, stop, reports);
    }

    addSkips(skipped, specials);  // named, yet no cause for a second dry run
    const auto firstRespelled = SpellingAlignment::respelled(first, renames);
    const auto secondRespelled = second ? SpellingAlignment::respelled(*second, renames) : std::nullopt;
    const std::vector<ItemizedChange>* finalScan = secondRespelled ? &*secondRespelled : second ? &*second : nullptr;
    SyncPlan result = planFromScans(firstRespelled ? *firstRespelled : first, finalScan, job.mode, std::move(skipped),
                                    destination);
    result.renames = std::move(renames);
    result.folderA = folderA;
    result.folderB = folderB;
    result.seen = seenVersions(result.archives, destination, lookStart);
    report(reports, phaseReport(SyncPhase::planning, static_cast<std::int64_t>(first.size())));
    if (basis) {
        basis->look = std::move(first);
        basis->endedAt = clock->secondsSinceBoot();
        basis->lookStartedAt = lookStart.at;
        basis->lookStartedSinceBoot = lookStart.sinceBoot;
    }
    return result;
}

}  // namespace kelto
