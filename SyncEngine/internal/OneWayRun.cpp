#include "SyncEngine/internal/OneWayRun.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/ProgressAggregator.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/SafetyGuard.h"
#include "SyncEngine/TwoWayPlanner.h"
#include "SyncEngine/internal/CopySourceCheck.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncEngine/internal/ExcludeFile.h"
#include "SyncEngine/internal/OneWayLines.h"
#include "SyncEngine/internal/SeenOnDisk.h"
#include "SyncEngine/internal/TimeProbe.h"
#include "SyncModel/Support/Clock.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <unordered_set>

namespace kelto {

namespace fs = std::filesystem;

using namespace OneWayLines;

class OneWayRun::TransferState {
public:
    // `writes`: the files rsync will write.
    TransferState(const SyncPlan& plan, std::vector<std::string> writes, RunLogSink& log, const Clock& clock)
        : log_(log), clock_(clock), aggregator_(totalBytes(plan), static_cast<std::int64_t>(plan.copies.size())),
          bytesTotal_(totalBytes(plan)) {
        stats_.skipped = plan.skipped;
        aggregator_.expect(std::move(writes));
    }

    SyncProgress firstReport() {
        std::lock_guard guard(lock_);
        return aggregator_.update(0, clock_.monotonicSeconds());
    }

    void writeLine(std::string_view line) {
        std::lock_guard guard(lock_);
        if (logError_) return;
        try {
            log_.writeLine(line);
        } catch (...) {
            logError_ = std::current_exception();
        }
    }

    std::optional<SyncProgress> record(const RsyncEvent& event) {
        std::lock_guard guard(lock_);
        if (const RsyncProgressSample* sample = event.asProgress()) {
            progressBytes_ = std::max(progressBytes_, sample->bytes);
        } else if (const ItemizedChange* item = event.asItem(); item && isReceivedFile(*item)) {
            aggregator_.recordFile(item->path);
            received_.push_back(*item);
        } else {
            return std::nullopt;
        }
        const double now = clock_.monotonicSeconds();
        if (now - lastEmission_ < OneWayEngine::reportInterval) return std::nullopt;
        lastEmission_ = now;
        flushLog();  // keeps the log readable while the run lasts
        return aggregator_.update(progressBytes_, now);
    }

    // The files rsync reported received, in its order; once the transfer is over.
    std::vector<ItemizedChange> received() {
        std::lock_guard guard(lock_);
        return received_;
    }

    // What the transfer copied: the received files that arrived.
    void countCopied(const std::vector<ItemizedChange>& arrived) {
        std::lock_guard guard(lock_);
        stats_.filesCopied = static_cast<std::int64_t>(arrived.size());
        stats_.bytesCopied = 0;
        for (const ItemizedChange& item : arrived) stats_.bytesCopied += item.size;
    }

    // The statistics and the final transfer report; throws the log's error.
    std::pair<RunStats, SyncProgress> finish(std::int32_t code, const std::vector<std::string>& stderrTail) {
        std::lock_guard guard(lock_);
        flushLog();
        if (logError_) std::rethrow_exception(logError_);
        stats_.errors = stderrTail;
        const bool complete = code == 0 || code == 24;
        SyncProgress last = aggregator_.update(complete ? bytesTotal_ : progressBytes_, clock_.monotonicSeconds());
        return {stats_, std::move(last)};
    }

private:
    static std::int64_t totalBytes(const SyncPlan& plan) {
        std::int64_t total = 0;
        for (const PlannedCopy& copy : plan.copies) total += copy.size;
        return total;
    }

    void flushLog() {
        if (logError_) return;
        try {
            log_.flush();
        } catch (...) {
            logError_ = std::current_exception();
        }
    }

    std::mutex lock_;
    RunLogSink& log_;
    const Clock& clock_;
    ProgressAggregator aggregator_;
    RunStats stats_;
    std::vector<ItemizedChange> received_;
    std::exception_ptr logError_;
    double lastEmission_ = distantPast;
    std::int64_t progressBytes_ = 0;
    std::int64_t bytesTotal_ = 0;
};

namespace {

// The code a run ends with when the engine found a fault of its own: rsync's
// own failure, if it had one, stays.
std::int32_t engineCode(std::int32_t rsyncCode, std::int32_t code) {
    return rsyncCode == 0 || rsyncCode == 24 ? code : rsyncCode;
}

// Copies of sources rewritten (or gone) while rsync read them: named in the
// log and the exit, the rewritten ones marked stale so that the next run
// copies them again. The run is partial at best; a failure rsync itself
// reported keeps its code.
RsyncExit withChangedSources(CopySourceCheck& sources, OneWayRun::TransferState& state,
                             const std::vector<ItemizedChange>& received, const RsyncExit& exit,
                             const fs::path& destination, std::int64_t modifyWindow) {
    std::vector<std::string> paths;
    paths.reserve(received.size());
    for (const ItemizedChange& item : received) paths.push_back(item.path);
    const std::vector<std::string> changed = sources.changed(paths);
    if (changed.empty()) return exit;
    std::vector<std::string> tail = exit.stderrTail;
    for (const std::string& path : changed)
        for (std::string& line : sources.markAndDescribe(destination, path, modifyWindow)) {
            state.writeLine(line);
            tail.push_back(std::move(line));
        }
    return RsyncExit(engineCode(exit.code, 23), std::move(tail));
}

// Whether the transfer's exclude file keeps rsync away from the path.
bool isUnderSkipped(std::string_view path, const std::unordered_set<std::string>& skipped) {
    const std::string whole = withoutTrailingSlash(path);
    for (std::size_t slash = whole.find('/'); slash != std::string::npos; slash = whole.find('/', slash + 1))
        if (skipped.contains(whole.substr(0, slash))) return true;
    return skipped.contains(whole);
}

void writeLines(RunLogSink& log, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    for (const std::string& line : lines) log.writeLine(line);
    log.flush();
}

// Removes the run folder at the end of a run that put nothing into it.
struct EmptyRunFolderRemoval {
    EmptyRunFolderRemoval(const fs::path& root, const Uuid& jobID, const std::string& runID)
        : root(root), jobID(jobID), runID(runID) {}
    EmptyRunFolderRemoval(const EmptyRunFolderRemoval&) = delete;
    EmptyRunFolderRemoval& operator=(const EmptyRunFolderRemoval&) = delete;
    const fs::path& root;
    const Uuid& jobID;
    const std::string& runID;
    ~EmptyRunFolderRemoval() { ArchiveDirectories::removeRunFolderIfEmpty(root, jobID, runID); }
};

// `lookStart`: when the last look began, where there is one.
OneWayRun::Bound boundByPlan(const SyncJob& job, const SyncPlan& plan, const std::vector<ItemizedChange>* look,
                             const std::unordered_set<std::string>& skipped, const fs::path& destination,
                             bool onlyPlanned, std::optional<SeenOnDisk::Start> lookStart = std::nullopt) {
    OneWayRun::Bound bound;
    // With the archive on, rsync may take what it finds unless `onlyPlanned`:
    // nothing beyond the plan stops the run, and what the last look compared
    // is archived as the plan's items are, in the version that stood before
    // that look began; any other is kept.
    const bool free = job.options.archiveEnabled && !onlyPlanned;
    std::unordered_set<std::string> listed;
    for (const PlannedArchive& archive : plan.archives) listed.insert(archive.path);
    std::optional<SeenOnDisk> lastSeen;
    if (free && lookStart) lastSeen.emplace(destination, *lookStart);
    const auto seenByLook = [&](const std::string& path) {
        if (!lastSeen || listed.contains(path)) return;
        if (std::optional<ItemVersion> version = lastSeen->now(path)) bound.planned.seen.emplace(path, *version);
    };
    for (const SeenVersion& seen : plan.seen) bound.planned.seen.emplace(seen.path, seen.version);
    if (!look) {
        // A replacement the plan listed, where the new item stands.
        bound.planned.replaced = std::move(listed);
        return bound;
    }
    SyncPlan beyond;  // what the look adds, as the guard would judge a plan of it
    beyond.entryCountA = plan.entryCountA;
    beyond.entryCountB = plan.entryCountB;
    const std::vector<bool> otherKind = replacesOtherKind(*look, destination);
    std::vector<std::string> newItems;  // not folders: each may take a folder's place
    for (std::size_t i = 0; i < look->size(); ++i) {
        const ItemizedChange& line = (*look)[i];
        // What the exclude file keeps rsync away from stays anyway.
        if (isReserved(line) || isUnderSkipped(line.path, skipped)) continue;
        if (isNew(line) && !isDirectory(line) && !isRoot(line)) newItems.push_back(line.path);
        if (isDeletion(line)) {
            // A copy job deletes nothing; a folder goes only once emptied of
            // what the plan listed, and what was held in it may go with it.
            if (job.mode == SyncMode::copy) continue;
            if (isDirectory(line)) {
                bound.planned.deleted.insert(withoutTrailingSlash(line.path));
                continue;
            }
            if (!listed.contains(line.path) && !free) {
                bound.refusal = OneWayEngine::deletionsChangedLine;
                return bound;
            }
            seenByLook(line.path);
            bound.planned.deleted.insert(line.path);
        } else if (otherKind[i] || (!isDirectory(line) && !isRoot(line) && !isNew(line) &&
                                    (isReceivedFile(line) || isChangedLink(line)))) {
            std::string path = withoutTrailingSlash(line.path);
            if (listed.contains(path) || free) {
                seenByLook(path);
                bound.planned.replaced.insert(std::move(path));
            } else {
                beyond.archives.push_back(PlannedArchive{path, Side::b});
                bound.leftAlone.push_back(std::move(path));
            }
        }
    }
    // So does a folder an item of another kind takes the place of.
    std::unordered_set<std::string> emptied;
    for (const std::string& path : bound.planned.deleted)
        for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
            emptied.insert(path.substr(0, slash));
    for (std::string& path : newItems)
        if (emptied.contains(path)) bound.planned.deleted.insert(std::move(path));
    if (bound.leftAlone.empty()) return bound;
    const bool excludable = std::all_of(bound.leftAlone.begin(), bound.leftAlone.end(),
                                        [](const std::string& path) { return PreflightSkips::canExclude(path); });
    if (!excludable || SafetyGuard::evaluate(beyond, job.mode, job.options, std::nullopt, {}).kind !=
                           GuardVerdict::Case::proceed)
        bound.refusal = OneWayEngine::replacementsChangedLine;
    return bound;
}

OneWayRun::LastLook lookAgain(const std::vector<ItemizedChange>& fresh, const SyncJob& job, const SyncPlan& plan,
                              const std::vector<SkippedFile>& excluded, const fs::path& destination, bool onlyPlanned,
                              SeenOnDisk::Start lookStart) {
    OneWayRun::LastLook look;
    const bool mirror = job.mode == SyncMode::mirror;
    std::unordered_set<std::string> skipped;  // the exclude file keeps rsync away from these
    for (const SkippedFile& file : plan.skipped) skipped.insert(withoutTrailingSlash(file.path));
    for (const SkippedFile& file : excluded) skipped.insert(withoutTrailingSlash(file.path));

    std::int64_t freshCount = 0;
    for (const ItemizedChange& line : fresh)
        if (!isDeletion(line) && !isDirectory(line) && !isRoot(line)) ++freshCount;
    if (mirror && freshCount == 0 && (plan.entryCountA > 0 || plan.entryCountB > 0)) {
        look.refusal = OneWayEngine::sourceEmptyLine;
        return look;
    }

    look.bound = boundByPlan(job, plan, &fresh, skipped, destination, onlyPlanned, lookStart);
    if (look.bound.refusal) {
        look.refusal = look.bound.refusal;
        return look;
    }
    for (const std::string& path : look.bound.leftAlone) skipped.insert(path);

    // Dry runs itemise every entry, what they would leave alone with blank
    // attributes: a look showing only such lines, lines the transfer's
    // exclude file hides, or for a copy job deletions, leaves it nothing to do.
    look.unchanged = std::all_of(fresh.begin(), fresh.end(), [&](const ItemizedChange& line) {
        return isUntouched(line) || isUnderSkipped(line.path, skipped) || (!mirror && isDeletion(line));
    });
    for (const ItemizedChange& line : fresh)
        if (isReceivedFile(line) && !isUnderSkipped(line.path, skipped)) {
            look.received.push_back(line.path);
            look.largest = std::max(look.largest, line.size);
        }
    return look;
}

// Files and links the run put into its archive folder: what rsync archived,
// whether the plan listed it or a later look found it. What cannot be read
// is not counted.
std::int64_t countArchived(const fs::path& runFolder) {
    std::int64_t count = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(runFolder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        if (it->symlink_status(ignored).type() != fs::file_type::directory) ++count;
    }
    return count;
}

// Planned folders are written only while each side leads to the folder its
// plan was made on: a link along a path retargeted, a folder renamed into a
// side's place or a file system mounted over it since would send rsync
// elsewhere.
void checkPlannedFolders(const SyncPlan& plan, const fs::path& source, const fs::path& destination) {
    EndpointCheck::require<OneWayEngineError>(
        EndpointCheck::replaced(source, destination, plan.folderA, plan.folderB));
}

// Everything the transfer's exclude file keeps rsync away from, gathered
// once: what the last look found (the plan's skips among them), both
// spellings of each rename that failed, and the replacements left for the
// next run.
std::vector<SkippedFile> transferExclusions(const OneWayRun::LastLook& look,
                                            const SpellingAlignment::Aligned& aligned) {
    std::vector<SkippedFile> excluded = look.excluded;
    excluded.insert(excluded.end(), aligned.keptOut.begin(), aligned.keptOut.end());
    checkExcludable(excluded);  // the replacements left alone were checked by the look
    for (const std::string& path : look.bound.leftAlone)
        excluded.push_back(SkippedFile{path, FileSkipReason::typeConflict});
    return excluded;
}

}  // namespace

OneWayRun::OneWayRun(const OneWayEngine& engine, const SyncJob& job, const SyncPlan& plan, const fs::path& source,
                     const fs::path& destination, const FileSystemTraits& traits, const std::string& runID,
                     RunLogSink& log, std::stop_token stop, const ProgressHandler& onProgress,
                     OneWayEngine::Basis* basis)
    : engine_(engine), job_(job), plan_(plan), source_(source), destination_(destination), traits_(traits),
      runID_(runID), log_(log), stop_(std::move(stop)), onProgress_(onProgress), basis_(basis),
      mirror_(job.mode == SyncMode::mirror), archiving_(job.options.archiveEnabled) {}

std::pair<RunStats, RsyncExit> OneWayRun::perform() {
    prepare();
    // Once the tree is prepared; declared first, so that it goes last.
    const EmptyRunFolderRemoval removal(heldB(), job_.id, runID_);
    const Recovery recovery = recoverHeld();
    LastLook look = lookLast(recovery.putBack);
    if (look.refusal) return refused(*look.refusal, recovery);
    // Before anything of B is renamed or written: rsync would fill B's disk
    // holding what it takes from mounts below B, and fail part-way.
    if (const auto shortfall = HoldingFolder::shortfall(heldB(), destination_, look.bound.planned))
        throw OneWayEngineError::noRoomToHold(*shortfall);

    checkSides();
    const SpellingAlignment::Aligned aligned = alignSpellings(look);
    const std::vector<SkippedFile> excluded = transferExclusions(look, aligned);
    ExcludeFile excludes(engine_.listFolder);  // also clears what killed runs left
    if (!excluded.empty()) excludes.write(excluded);
    const RsyncInvocation invocation = prepareTransfer(look, excluded.empty() ? nullptr : &excludes.path());

    TransferState state(plan_, look.received, log_, *engine_.clock);
    for (const std::string& line : recovery.leftovers) state.writeLine(line);
    for (const std::string& line : recovery.notes) state.writeLine(line);
    for (const std::string& line : aligned.failures) state.writeLine(line);
    for (const std::string& path : look.bound.leftAlone)
        state.writeLine(std::string(OneWayEngine::leftForNextRunLine) + path);
    report(&onProgress_, state.firstReport());

    CopySourceCheck sources(heldA(), look.received);  // read just before rsync lists them
    const RsyncExit transferred = transfer(invocation, look, state);
    const std::vector<ItemizedChange> received = state.received();
    TimeProbe probe(heldB());
    const TwoWayPlanner::KeptTime keptTime = [&probe](Side, std::int64_t seconds) { return probe.kept(seconds); };
    state.countCopied(sources.arrived(heldB(), received, [&](std::int64_t copyTime, std::int64_t sourceTime) {
        return TwoWayPlanner::sameTime(Side::b, copyTime, sourceTime, traits_.modifyWindow, keptTime);
    }));
    RsyncExit exit = withChangedSources(sources, state, received, transferred, heldB(), traits_.modifyWindow);
    const Held held = settle(look.bound.planned, state);
    // What rsync wrote is settled in the folders held; a side whose path
    // leads elsewhere by now makes the run no success, as in a two-way run.
    if (!stop_.stop_requested()) checkSides();
    return finish(state, transferred, std::move(exit), held, recovery, aligned);
}

void OneWayRun::prepare() {
    OneWayEngine::checkEndpoints(job_, source_, destination_, engine_.treesOverlap);
    if (!ArchiveRunID::date(runID_)) throw OneWayEngineError::invalidRunID();
    held_.emplace(EndpointCheck::holdOrRaise<OneWayEngineError>(source_, destination_, plan_.folderA, plan_.folderB));
    checkExcludable(excludedFrom(plan_.skipped));
    ArchiveDirectories::prepareTree(heldB(), job_.id, runID_);
}

// What runs that never settled still hold goes back before anything is
// compared; never while another run may be working here.
OneWayRun::Recovery OneWayRun::recoverHeld() {
    Recovery recovery;
    const std::optional<std::string> archive =
        archiving_ ? std::optional(ArchiveDirectories::runFolderRelativePath(job_.id, runID_)) : std::nullopt;
    recovery.scratch = TransferScratch::claim(heldB(), [&] {
        for (const HoldingFolder::Settlement& settlement : HoldingFolder::recover(heldB(), archive)) {
            recovery.putBack = recovery.putBack || !settlement.putBack.empty();
            HoldingFolder::describeRecovered(settlement, destination_, recovery.notes);
            recovery.stillHeld = recovery.stillHeld || settlement.hasRetries();
            recovery.displaced = recovery.displaced || settlement.displaced();
        }
    });
    // For the log only: a leftover in the reserved folder harms nothing.
    for (const FileError& leftover : recovery.scratch.leftovers())
        recovery.leftovers.push_back(std::string(TransferScratch::leftoverLine) + leftover.what());
    return recovery;
}

// The last look at the folders and what it bounds the transfer to; a reason
// to plan again instead, if it finds one.
OneWayRun::LastLook OneWayRun::lookLast(bool putBack) {
    // The plan's look stands while it is a moment old and nothing was put
    // back into B since: a run that starts no transfer can replace or delete
    // nothing, and what a transfer takes beyond the plan stays recoverable,
    // so a change made since is the next run's, as one made after this run
    // would be. An older plan is looked at again, by a mirror, which may
    // delete; a copy job's transfer holds what it replaces beyond the plan.
    // Its age counts a suspend, during which either side may change.
    const bool planIsCurrent = basis_ && !putBack &&
                               engine_.clock->secondsSinceBoot() - basis_->endedAt <= OneWayEngine::currentPlanSeconds;
    std::vector<ItemizedChange> fresh;  // not kept through the transfer
    std::vector<SkippedFile> refusedSince;  // names B's disk would not look up, found by the fresh look
    const std::vector<ItemizedChange>* lastLook = planIsCurrent ? &basis_->look : nullptr;
    SeenOnDisk::Start lookStart = planIsCurrent
                                      ? SeenOnDisk::Start{basis_->lookStartedAt, basis_->lookStartedSinceBoot}
                                      : SeenOnDisk::Start{};
    if (!lastLook && (mirror_ || engine_.onlyPlanned)) {
        lookStart = OneWayLines::startOfLook(destination_, stop_);
        fresh = engine_.scan(job_, source_, destination_, traits_, {}, stop_, nullptr, nullptr, &refusedSince);
        lastLook = &fresh;
    }
    const auto refusal = [](std::string_view reason) {
        LastLook refused;
        refused.refusal = reason;
        return refused;
    };
    std::vector<SkippedFile> excluded = excludedFrom(plan_.skipped);
    addSkips(excluded, refusedSince);
    // Only what the plan listed is renamed. A mirror that finds another item
    // spelled otherwise would delete it after the transfer: it plans again.
    std::vector<PlannedRename> renames = plan_.renames;
    std::optional<std::vector<ItemizedChange>> respelledLook;
    if (lastLook) {
        renames.clear();
        std::vector<SkippedFile> unsure;
        // Names are compared as the disk they lie on does, B's or one mounted below it now.
        const FileSystemTraits landing = traits_.withDisksBelow(heldB());
        for (PlannedRename& rename : SpellingAlignment::respellings(*lastLook, heldB(), landing, unsure)) {
            if (std::find(plan_.renames.begin(), plan_.renames.end(), rename) != plan_.renames.end())
                renames.push_back(std::move(rename));
            else if (mirror_)
                return refusal(OneWayEngine::deletionsChangedLine);
        }
        // Items found alike since the plan are left out too; a mirror, which
        // would delete one of them after the transfer, plans again.
        const auto planned = [&](const SkippedFile& file) {
            return std::find(plan_.skipped.begin(), plan_.skipped.end(), file) != plan_.skipped.end();
        };
        if (mirror_ && !std::all_of(unsure.begin(), unsure.end(), planned))
            return refusal(OneWayEngine::deletionsChangedLine);
        addSkips(excluded, unsure);
        respelledLook = SpellingAlignment::respelled(*lastLook, renames);
        if (respelledLook) lastLook = &*respelledLook;
        addSkips(excluded, SpellingAlignment::otherSpellingsOnB(excluded, *lastLook, landing));
    }

    LastLook look;
    if (lastLook) {
        look = lookAgain(*lastLook, job_, plan_, excluded, heldB(), engine_.onlyPlanned, lookStart);
        if (look.refusal) return look;
    } else {
        look.bound = boundByPlan(job_, plan_, nullptr, {}, heldB(), engine_.onlyPlanned);
        for (const PlannedCopy& copy : plan_.copies) {
            look.received.push_back(copy.path);
            look.largest = std::max(look.largest, copy.size);
        }
    }
    look.bound.planned.source = heldA();  // what the transfer's copies are copies of
    look.bound.planned.modifyWindow = traits_.modifyWindow;
    if (archiving_) look.bound.planned.archiveTo = ArchiveDirectories::runFolderRelativePath(job_.id, runID_);
    // What rsync's copy into the holding folder would drop is looked at only
    // where a transfer will hold something.
    if (!look.unchanged) {
        std::vector<fs::path> mounts;
        for (const TreeOverlap::Lookup& lookup : engine_.treesOverlap.lookups(destination_)) mounts.push_back(lookup.at);
        HoldingFolder::lookBelow(heldB(), mounts, look.bound.planned);
    }
    // A plan may wait a while (a review) once its versions were read: what
    // changed since, its old time put back or not, is kept. Read before the
    // spelling renames, which change what they rename.
    SeenOnDisk onB(heldB(), SeenOnDisk::Start{});
    std::erase_if(look.bound.planned.seen, [&](const auto& item) { return !onB.unchanged(item.first, item.second); });
    look.renames = std::move(renames);
    look.excluded = std::move(excluded);
    if (basis_) std::vector<ItemizedChange>().swap(basis_->look);
    return look;
}

std::pair<RunStats, RsyncExit> OneWayRun::refused(std::string_view reason, const Recovery& recovery) {
    writeLines(log_, recovery.leftovers);
    writeLines(log_, recovery.notes);
    RunStats stats;
    stats.errors = recovery.notes;
    stats.errors.emplace_back(reason);
    return {stats, RsyncExit(OneWayEngine::replanCode, {std::string(reason)})};
}

// A mount made since the run began (planning can take minutes), or a side
// that no longer leads to the folder planned on, is seen before anything of
// B is moved aside, renamed or written, and again once the transfer is over.
void OneWayRun::checkSides() {
    OneWayEngine::checkEndpoints(job_, source_, destination_, engine_.treesOverlap);
    checkPlannedFolders(plan_, source_, destination_);
}

// A rename that fails keeps the transfer away from both spellings, so that
// the item is neither updated nor deleted; the run is not a plain success.
SpellingAlignment::Aligned OneWayRun::alignSpellings(const LastLook& look) {
    return SpellingAlignment::alignAll(look.renames, heldB());
}

RsyncInvocation OneWayRun::prepareTransfer(LastLook& look, const fs::path* excludeFile) {
    RsyncInvocation invocation = invocationFor(job_, mirror_, false, source_, destination_, traits_);
    if (excludeFile) invocation.extraExcludeFile = *excludeFile;
    if (mirror_) invocation.maximumDeletions = plan_.deletionCount;
    // A copy job's plan may be older than files that have appeared since.
    TransferScratch::assign(invocation, heldB(), look.received, mirror_, look.largest);
    if (!invocation.temporaryDirectory) look.bound.planned.copies = look.received;
    HoldingFolder::lookAtFolders(heldB(), look.bound.planned);  // as spelt for the transfer
    // What the transfer deletes or replaces waits in the holding folder,
    // archive on or off, until it is known to be the version the plan saw;
    // the plan it is settled by is recorded first, for a run killed before.
    HoldingFolder::prepare(heldB(), runID_);
    invocation.backupDirectory = HoldingFolder::relativePath(runID_);
    HoldingFolder::record(heldB(), runID_, look.bound.planned);
    return invocation;
}

// rsync's own exit; none runs when the last look found nothing to do.
RsyncExit OneWayRun::transfer(const RsyncInvocation& invocation, const LastLook& look, TransferState& state) {
    if (look.unchanged && !stop_.stop_requested()) return RsyncExit(0, {});
    const EndpointCheck::Held& held = *held_;
    try {
        RsyncExit exit = engine_.runRsync(
            RsyncArguments::build(invocation), stop_, [&](std::string_view line) { state.writeLine(line); },
            [&](RsyncEvent&& event) {
                if (auto progress = state.record(event)) report(&onProgress_, *progress);
            },
            std::pair{held.descriptor(Side::a), held.descriptor(Side::b)});
        // rsync looks its destination up again by the path of the folder it
        // starts in: one mounted over as it started may have had it write
        // there, which is no success (told as every check tells it: what
        // now nests first).
        if (held.covered(Side::b)) {
            OneWayEngine::checkEndpoints(job_, source_, destination_, engine_.treesOverlap);
            throw OneWayEngineError::folderReplaced(destination_, Side::b);
        }
        return exit;
    } catch (...) {
        settle(look.bound.planned, state);  // whatever rsync got to, named in the log
        throw;
    }
}

// Also after a stop or a failure: rsync may have taken things meanwhile.
// What it kept is marked only once the run's result names it (finish).
OneWayRun::Held OneWayRun::settle(const HoldingFolder::Planned& planned, TransferState& state) {
    Held held;
    held.settlement = HoldingFolder::settle(heldB(), runID_, planned);
    const HoldingFolder::Settlement& settlement = held.settlement;
    HoldingFolder::describe(settlement, destination_, held.lines);
    // Only a version the plan never saw asks for a review; a move the disk
    // refused is named as such, and no review can help it.
    held.unseen = settlement.heldUnseen();
    if (held.unseen) held.lines.emplace_back(OneWayEngine::heldBackLine);
    for (const std::string& line : held.lines) state.writeLine(line);
    return held;
}

std::pair<RunStats, RsyncExit> OneWayRun::finish(TransferState& state, const RsyncExit& transferred, RsyncExit exit,
                                                 const Held& held, const Recovery& recovery,
                                                 const SpellingAlignment::Aligned& aligned) {
    auto [stats, last] = state.finish(exit.code, exit.stderrTail);
    report(&onProgress_, last);
    report(&onProgress_, phaseReport(SyncPhase::archiving));
    report(&onProgress_, phaseReport(SyncPhase::finalizing));

    stats.errors.insert(stats.errors.begin(), recovery.notes.begin(), recovery.notes.end());
    if (!held.lines.empty()) {
        // Never a plain success; a code rsync already failed with stays.
        stats.errors.insert(stats.errors.end(), held.lines.begin(), held.lines.end());
        std::vector<std::string> tail = exit.stderrTail;
        tail.insert(tail.end(), held.lines.begin(), held.lines.end());
        // Held-back versions ask for a new plan, which outranks a partial
        // copy; what the disk refused is a partial run; versions archived
        // in place of going back, all else done, a warning.
        exit = RsyncExit(engineCode(held.unseen ? transferred.code : exit.code,
                                    held.unseen                      ? OneWayEngine::replanCode
                                    : held.settlement.onlyArchived() ? HoldingFolder::displacedCode
                                                                     : 23),
                         std::move(tail));
    }
    // Items an earlier run could not give back, and still cannot: never a
    // plain success; a partial run while any is tried again.
    if (recovery.stillHeld) exit = RsyncExit(engineCode(exit.code, 23), std::move(exit.stderrTail));
    if (recovery.displaced)
        exit = RsyncExit(engineCode(exit.code, HoldingFolder::displacedCode), std::move(exit.stderrTail));
    if (!aligned.failures.empty()) {
        stats.errors.insert(stats.errors.end(), aligned.failures.begin(), aligned.failures.end());
        std::vector<std::string> tail = std::move(exit.stderrTail);
        tail.insert(tail.end(), aligned.failures.begin(), aligned.failures.end());
        exit = RsyncExit(engineCode(exit.code, 23), std::move(tail));
    }

    if (archiving_)
        stats.filesArchived = countArchived(heldB() / ArchiveDirectories::runFolderRelativePath(job_.id, runID_));
    // The result names what the holding folder keeps: later runs put it
    // back no more. A run that throws leaves it unmarked, tried again.
    if (!held.settlement.kept.empty()) HoldingFolder::markReported(heldB(), runID_, held.settlement);
    return {std::move(stats), exit};
}

// The engine plans; a run's steps, which lean on that planning, live here.
std::pair<RunStats, RsyncExit> OneWayEngine::run(const SyncJob& job, const SyncPlan& plan, const fs::path& source,
                                                 const fs::path& destination, const FileSystemTraits& traits,
                                                 const std::string& runID, RunLogSink& log, std::stop_token stop,
                                                 const ProgressHandler& onProgress, Basis* basis) const {
    return OneWayRun(*this, job, plan, source, destination, traits, runID, log, std::move(stop), onProgress, basis)
        .perform();
}

}  // namespace kelto
