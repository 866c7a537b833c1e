#include "SyncEngine/internal/TwoWayRun.h"
#include "SyncModel/Support/ItemVersion.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveMover.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/PathKey.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/SpellingAlignment.h"
#include "SyncEngine/TransferScratch.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncEngine/TwoWayPlanner.h"
#include "SyncEngine/UnchangedCheck.h"
#include "SyncEngine/internal/ContentCheck.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncEngine/internal/HoldingFolder.h"
#include "SyncEngine/internal/KeyedMerge.h"
#include "SyncEngine/internal/RacyWindow.h"
#include "SyncEngine/internal/SeenOnDisk.h"
#include "SyncEngine/internal/SideStat.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "SyncModel/Support/Uuid.h"

#include <sys/stat.h>

#include <algorithm>
#include <exception>
#include <thread>

namespace kelto {

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t cancelledCode = RsyncRunner::cancelledCode;
constexpr std::string_view deferredLine = "Deletion candidate changed; deferred: ";
constexpr std::string_view copyDeferredLine = "Copy candidate changed; deferred: ";
constexpr std::string_view archiveLine = "Could not archive or remove: ";
constexpr std::string_view conflictAKeptLine = "Conflict, A's version kept: ";
constexpr std::string_view conflictBKeptLine = "Conflict, B's version kept: ";

// How the log names a conflict a run settled.
std::string conflictLine(bool aKept, std::string_view path) {
    return std::string(aKept ? conflictAKeptLine : conflictBKeptLine).append(path);
}

SyncProgress phaseOnly(SyncPhase phase) {
    SyncProgress progress;
    progress.phase = phase;
    return progress;
}

// The judgement of the folders on the way is the same for every path in one
// folder, and the plan's lists come grouped by folder.
class SafePathCheck {
public:
    explicit SafePathCheck(const fs::path& root) : root_(root) {}

    bool operator()(std::string_view path) {
        const std::size_t slash = path.rfind('/');
        const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
        if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string_view::npos) return false;
        if (slash == std::string_view::npos || slash == 0) return judge(path);
        const std::string_view parent = path.substr(0, slash);
        if (known_ && parent == parent_) return verdict_;
        verdict_ = judge(path);
        parent_.assign(parent);
        known_ = true;
        return verdict_;
    }

private:
    // The side is held for the run: its folder is opened once for every path.
    bool judge(std::string_view path) {
        if (!opened_) {
            opened_ = true;
            try {
                folder_ = SafeFileSystem::openRoot(root_);
            } catch (const FileError&) {
            }
        }
        return folder_ ? ArchiveDirectories::isSafeRelativePath(path, *folder_, false)
                       : ArchiveDirectories::isSafeRelativePath(path, root_, false);
    }

    const fs::path& root_;
    std::optional<SafeFileSystem::Folder> folder_;
    bool opened_ = false;
    std::string parent_;
    bool verdict_ = false;
    bool known_ = false;
};

// The NUL-separated list of one direction's paths, in the run's private
// folder, removed when the direction's rsync has ended, whatever happened.
class ListFile {
public:
    ListFile(const PrivateListFolder& folder, const std::vector<std::string>& paths) : folder_(folder) {
        std::string bytes;
        std::size_t size = 0;
        for (const std::string& path : paths) size += path.size() + 1;
        bytes.reserve(size);
        for (const std::string& path : paths) {
            bytes += path;
            bytes.push_back('\0');
        }
        path_ = folder_.write(PrivateListFolder::filesPrefix, bytes);
    }
    ~ListFile() { folder_.remove(path_); }
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    const fs::path& path() const { return path_; }

private:
    const PrivateListFolder& folder_;
    fs::path path_;
};

// The time to record for two entries that agree: where one side's file
// system clamped the other's time, the time as given, so that each side's
// entry still stands for it.
std::optional<std::int64_t> agreedTime(const SideListing::Ref& a, const SideListing::Ref& b, std::int64_t window,
                                       const TwoWayPlanner::KeptTime& keptTime) {
    if (a.kind != b.kind) return std::nullopt;
    if (a.kind == EntryKind::directory) return a.mtime;
    if (a.size != b.size || !a.timeKnown || !b.timeKnown) return std::nullopt;
    if (TwoWayPlanner::sameTime(Side::b, b.mtime, a.mtime, window, keptTime)) return a.mtime;
    if (TwoWayPlanner::sameTime(Side::a, a.mtime, b.mtime, window, keptTime)) return b.mtime;
    return std::nullopt;
}

}  // namespace

TwoWayRun::TwoWayRun(const RsyncRunner& runner, const Clock& clock, Lister listBoth, const SyncJob& job,
                     const TwoWayPlan& plan, const TwoWaySide& a, const TwoWaySide& b, BaselineStore& baseline,
                     const std::string& runID, RunLogSink& log, std::stop_token stop, const ProgressHandler& onProgress,
                     fs::path listFolder, Check checkAgain, TwoWayEngine::Basis* basis)
    : runner_(runner),
      clock_(clock),
      listBoth_(std::move(listBoth)),
      checkAgain_(std::move(checkAgain)),
      job_(job),
      plan_(plan),
      a_(a),
      b_(b),
      baseline_(baseline),
      runID_(runID),
      log_(log),
      stop_(std::move(stop)),
      onProgress_(onProgress),
      window_(std::max<std::int64_t>({a.traits.modifyWindow, b.traits.modifyWindow, 0})),
      probeA_(a.root),
      probeB_(b.root),
      keptTime_(TimeProbe::keptOnSides(probeA_, probeB_)),
      basis_(basis),
      listFolderPath_(std::move(listFolder)) {}

TwoWayRun::~TwoWayRun() {
    for (const fs::path& root : preparedRoots_) ArchiveDirectories::removeRunFolderIfEmpty(root, job_.id, runID_);
}

void TwoWayRun::combine(RsyncExit& accumulated, std::int32_t code, const std::vector<std::string>& lines) {
    std::int32_t result = accumulated.code;
    if (code == 24) {
        if (result == 0) result = 24;
    } else if (code != 0) {
        result = code;
    }
    std::vector<std::string> tail = std::move(accumulated.stderrTail);
    tail.insert(tail.end(), lines.begin(), lines.end());
    accumulated = RsyncExit(result, std::move(tail));
}

std::pair<RunStats, RsyncExit> TwoWayRun::perform() {
    // Preparation: nothing on disk changes before the reserved trees.
    if (!ArchiveRunID::date(runID_)) throw TwoWayEngineError::invalidRunID();
    held_.emplace(holdPlanned());
    // The time probes' scratch files go into the held folders too.
    probeA_ = TimeProbe(held(a_));
    probeB_ = TimeProbe(held(b_));
    checkPlannedPaths();
    listFolder_.emplace(listFolderPath_);
    prepareTrees();
    loadBaselineAndList();
    seeTakings();
    if (job_.options.archiveEnabled) backupDirectory_ = ArchiveDirectories::runFolderRelativePath(job_.id, runID_);

    runPlan_ = TwoWayPlanner::makeSyncPlan(plan_, listingA_, listingB_);
    state_ = std::make_unique<TwoWayTransferState>(runPlan_, log_, onProgress_);
    {
        std::unique_lock guard(state_->lock);
        for (const TransferScratch::Claim* scratch : {&scratchA_, &scratchB_})
            for (const FileError& leftover : scratch->leftovers())
                state_->writeLogLine(std::string(TransferScratch::leftoverLine) + leftover.what());
        for (const std::string& line : recovered_) state_->writeLogLine(line);
        for (const std::string& line : recoveredConflicts_) state_->writeLogLine(line);
        const SyncProgress first = state_->aggregator.update(0, clock_.monotonicSeconds());
        guard.unlock();
        report(first);
    }
    // Items an earlier run held and still cannot give back: never a plain
    // success; a partial run while any is tried again.
    if (!recovered_.empty())
        combine(accumulated_, stillHeld_ ? 23 : displaced_ ? HoldingFolder::displacedCode : 0, recovered_);

    // A copy goes ahead only while a plan made now would make it too: a
    // destination changed since planning (a newer version, say) is never
    // overwritten on the strength of the older plan.
    PathKeySet freshAtoB, freshBtoA;
    if (listed_) {
        // Only the contents of what the plan copies matter here: those read
        // for the plan are not read again.
        PathKeySet copied;
        for (const auto* list : {&plan_.copyAtoB, &plan_.copyBtoA})
            for (const std::string& path : *list) copied.insert(PathKey::of(path));
        ContentCheck contents(held(a_), held(b_), stop_);
        const TwoWayPlanner::SameContents ask = [&](std::string_view onA, std::string_view onB) {
            return !copied.contains(PathKey::of(onA)) || contents.same(onA, onB);
        };
        const TwoWayPlan fresh =
            TwoWayPlanner::plan(listingA_, listingB_, *old_, window_, keptTime_, ask, racy_.dueUntil());
        for (const std::string& path : fresh.copyAtoB) freshAtoB.insert(PathKey::of(path));
        for (const std::string& path : fresh.copyBtoA) freshBtoA.insert(PathKey::of(path));
    }

    const Direction directions[] = {{plan_.copyAtoB, a_, b_, listingB_, plannedB_, freshAtoB, renamesA_, renamesB_},
                                    {plan_.copyBtoA, b_, a_, listingA_, plannedA_, freshBtoA, renamesB_, renamesA_}};
    for (const Direction& direction : directions)
        if (transfer(direction) == Next::finish) {
            nameConflicts();
            return finish(stop_.stop_requested() ? cancelledCode : accumulated_.code);
        }
    nameConflicts();

    // Deletions, each re-checked against the entry the plan judged.
    if (stop_.stop_requested()) return finish(cancelledCode);
    if (checkAgain_) checkAgain_();
    report(phaseOnly(SyncPhase::archiving));
    for (const auto* list : {&plan_.archiveOnA, &plan_.removeDirsOnA, &plan_.archiveOnB, &plan_.removeDirsOnB})
        touched_.insert(touched_.end(), list->begin(), list->end());
    {
        const fs::path &rootA = held(a_), &rootB = held(b_);
        const std::vector<std::string> foldersA = recheck(plan_.removeDirsOnA, plan_.deletionEntriesA, rootA, renamesA_);
        const std::vector<std::string> foldersB = recheck(plan_.removeDirsOnB, plan_.deletionEntriesB, rootB, renamesB_);
        deleteOnSide(plan_.archiveOnA, plan_.deletionEntriesA, rootA, renamesA_, plannedA_);
        deleteOnSide(plan_.archiveOnB, plan_.deletionEntriesB, rootB, renamesB_, plannedB_);
        removeFolders(foldersA, rootA);
        removeFolders(foldersB, rootB);
    }
    countArchived();

    // The new baseline, from what both sides now hold.
    if (stop_.stop_requested()) return finish(cancelledCode);
    report(phaseOnly(SyncPhase::finalizing));
    const auto [finalA, finalB] = finalListings();
    for (const std::string& path : plan_.removeDirsOnA)
        if (finalA.contains(PathKey::of(renamesA_.apply(path)))) unsettle(path);
    for (const std::string& path : plan_.removeDirsOnB)
        if (finalB.contains(PathKey::of(renamesB_.apply(path)))) unsettle(path);
    for (const SkippedFile& file : plan_.skipped) unsettle(file.path);
    for (const TwoWayConflict& conflict : plan_.conflicts)
        if (conflict.resolution == TwoWayConflict::Resolution::skippedTypeClash) unsettle(conflict.path);
    static const Baseline none;
    const Baseline next = newBaseline(finalA, finalB, *old_ ? **old_ : none, unsettled_, window_, keptTime_, dropped_,
                                      racy_.racyFrom());
    const SideCounts counts{finalA.fileCount(), finalB.fileCount()};

    if (stop_.stop_requested()) return finish(cancelledCode);
    {
        std::lock_guard guard(state_->lock);
        state_->flushLog();
        if (state_->logError) std::rethrow_exception(state_->logError);
    }
    // A baseline recorded for these sides with these entries and counts
    // already reads as the one this run would write.
    if (*old_ && next == **old_ && baseline_.sideCounts() == counts) return finish(accumulated_.code);
    try {
        // The store holds the baseline read at the start, the job's lock kept
        // it so: only what differs from it is written.
        baseline_.save(next, a_.volumeUUID, b_.volumeUUID, counts, stop_, *old_ ? &**old_ : nullptr);
    } catch (const CancellationError&) {
        return finish(cancelledCode);
    }
    return finish(accumulated_.code);
}

void TwoWayRun::loadBaselineAndList() {
    // The listings give the copies their sizes and the destination its
    // spellings; without copies they would serve nothing.
    listed_ = !plan_.copyAtoB.empty() || !plan_.copyBtoA.empty();
    if (basis_) {
        old_ = &basis_->baseline;
        racy_ = RacyWindow::now(held(a_), held(b_), window_).at(basis_->listedAt);
        if (!listed_) return;
        // Each side as planned, with what the copies act on looked at again
        // (every copied path and the folders above it, on both sides): the
        // fresh look that keeps a changed destination from being overwritten
        // needs no more, and a listing of every entry would cost as much as
        // the plan's.
        std::vector<std::string> paths;
        paths.reserve(plan_.copyAtoB.size() + plan_.copyBtoA.size());
        PathKeySet seen;
        auto add = [&](std::string path) {
            if (seen.insert(path).second) paths.push_back(std::move(path));
        };
        for (const auto* list : {&plan_.copyAtoB, &plan_.copyBtoA})
            for (const std::string& path : *list) {
                for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
                    add(path.substr(0, slash));
                add(path);
            }
        listingA_ = lookAgain(std::exchange(basis_->a, SideListing()), held(a_), paths);
        listingB_ = lookAgain(std::exchange(basis_->b, SideListing()), held(b_), paths);
        return;
    }
    std::optional<Baseline> loaded;
    std::exception_ptr loadError, listError;
    {
        std::jthread loader([&] {
            try {
                loaded = baseline_.load(a_.volumeUUID, b_.volumeUUID);
            } catch (...) {
                loadError = std::current_exception();
            }
        });
        try {
            if (listed_) {
                racy_ = RacyWindow::now(held(a_), held(b_), window_);
                std::tie(listingA_, listingB_) = listBoth_(stop_);
            }
        } catch (...) {
            listError = std::current_exception();
        }
    }
    if (loadError) std::rethrow_exception(loadError);  // the store is read first
    if (listError) std::rethrow_exception(listError);
    loaded_ = std::move(loaded);  // absent reads as empty
}

void TwoWayRun::seeTakings() {
    // A plan may wait a while (a review) once its versions were read: what
    // changed since, its old time put back or not, is no version it saw.
    SeenOnDisk onA(held(a_), SeenOnDisk::Start{}), onB(held(b_), SeenOnDisk::Start{});
    for (const SeenVersion& item : plan_.seen)
        if ((item.on == Side::a ? onA : onB).unchanged(item.path, item.version))
            (item.on == Side::a ? plannedA_ : plannedB_).insert_or_assign(PathKey::of(item.path), item.version);
}

std::pair<SideListing, SideListing> TwoWayRun::finalListings() {
    // Without copies, the plan's listings stand where the fresh ones would.
    if (!listed_ && basis_ && touched_.empty()) return {std::move(basis_->a), std::move(basis_->b)};
    if (!listed_ && !basis_) {
        racy_ = RacyWindow::now(held(a_), held(b_), window_);
        return listBoth_(stop_);
    }
    // Only the entries this run wrote, moved or removed can differ from the
    // listings made just before the transfers: those are read again, the rest
    // is taken as then listed. An untouched entry changed by someone else
    // since then is thus recorded as it was when both sides last agreed, and
    // the next run sees the change against it. Each listing read again is
    // let go at once.
    SideListing& beforeA = listed_ ? listingA_ : basis_->a;
    SideListing& beforeB = listed_ ? listingB_ : basis_->b;
    SideListing finalA = reread(std::exchange(beforeA, SideListing()), held(a_), renamesA_);
    SideListing finalB = reread(std::exchange(beforeB, SideListing()), held(b_), renamesB_);
    return {std::move(finalA), std::move(finalB)};
}

namespace {

// Adds what stands at `path` on disk; nothing when nothing does.
void addAsOnDisk(SideListing::Builder& builder, SideStat& disk, const std::string& path) {
    if (const std::optional<struct stat> info = disk.stat(path))
        builder.add(path, ItemVersion::kindOf(info->st_mode), static_cast<std::int64_t>(info->st_size),
                    static_cast<std::int64_t>(info->st_mtim.tv_sec));
}

}  // namespace

SideListing TwoWayRun::lookAgain(const SideListing& before, const fs::path& root,
                                 const std::vector<std::string>& paths) {
    PathKeySet keys;
    keys.reserve(paths.size());
    SideListing::Builder builder;
    builder.reserve(before.size() + paths.size(), 0);
    SideStat disk(root);
    for (const std::string& path : paths) {
        std::string key = PathKey::of(path);
        // As this side spells it; a path it lacked is looked for in the
        // nearest folder above it that it had, as it spells that folder.
        std::string spelling = path, storage;
        for (std::size_t end = path.size(); end != std::string::npos && end > 0; end = path.rfind('/', end - 1)) {
            const std::string_view above = std::string_view(path).substr(0, end);
            if (const std::optional<SideListing::Ref> listed = before.find(PathKey::of(above, storage))) {
                spelling = std::string(listed->actualPath) + path.substr(end);
                break;
            }
        }
        try {
            addAsOnDisk(builder, disk, spelling);
        } catch (const FileError&) {
            unsettle(path);  // not known either way: it stays as planned
            continue;
        }
        keys.insert(std::move(key));
    }
    for (const SideListing::Ref entry : before)
        if (!keys.contains(entry.key)) builder.add(entry);
    return std::move(builder).build();
}

SideListing TwoWayRun::reread(const SideListing& before, const fs::path& root, const Renames& renames) {
    PathKeySet keys;
    keys.reserve(touched_.size());
    SideListing::Builder builder;
    builder.reserve(before.size() + touched_.size(), 0);
    SideStat disk(root);
    for (const std::string& acted : touched_) {
        const std::string path = renames.apply(acted);
        if (!keys.insert(PathKey::of(path)).second) continue;
        try {
            addAsOnDisk(builder, disk, path);
        } catch (const FileError&) {
            unsettle(path);  // not known either way: the old entry stays
        }
    }
    for (const SideListing::Ref entry : before)
        if (!keys.contains(entry.key)) builder.add(entry);
    return std::move(builder).build();
}

void TwoWayRun::checkPlannedPaths() const {
    auto check = [](const std::vector<std::string>& paths, SafePathCheck& safe) {
        for (const std::string& path : paths)
            if (!safe(path)) throw TwoWayEngineError::unsafePath(path);
    };
    SafePathCheck onA(held(a_)), onB(held(b_));
    check(plan_.copyAtoB, onA);
    check(plan_.copyBtoA, onB);
    check(plan_.archiveOnA, onA);
    check(plan_.removeDirsOnA, onA);
    check(plan_.archiveOnB, onB);
    check(plan_.removeDirsOnB, onB);
}

void TwoWayRun::prepareTrees() {
    // What runs that never settled still hold goes back before either side
    // is listed; never while another run may be working there.
    const std::optional<std::string> archive =
        job_.options.archiveEnabled ? std::optional(ArchiveDirectories::runFolderRelativePath(job_.id, runID_))
                                    : std::nullopt;
    const auto recover = [&](const TwoWaySide& side) {
        for (const HoldingFolder::Settlement& settlement : HoldingFolder::recover(held(side), archive)) {
            HoldingFolder::describeRecovered(settlement, side.root, recovered_);
            stillHeld_ = stillHeld_ || settlement.hasRetries();
            displaced_ = displaced_ || settlement.displaced();
            // Settled on this side by a run that did not live to name them.
            for (const std::string& path : settlement.conflicts)
                recoveredConflicts_.push_back(conflictLine(&side == &b_, path));
            if (settlement.conflictsRecorded) conflictRecords_.emplace_back(held(side), settlement.runID);
        }
    };
    // A side this run leaves alone is still recovered where a killed run
    // held something there: what it held waits nowhere a user looks.
    const auto heldThere = [this](const TwoWaySide& side) {
        struct stat info {};
        return ::lstat((held(side) / HoldingFolder::relativePath("")).c_str(), &info) == 0;
    };
    const auto prepare = [&](const TwoWaySide& side, bool acted, TransferScratch::Claim& scratch) {
        if (acted) {
            ArchiveDirectories::prepareTree(held(side), job_.id, runID_);
            preparedRoots_.push_back(held(side));
        }
        if (acted || heldThere(side)) scratch = TransferScratch::claim(held(side), [&] { recover(side); });
    };
    prepare(a_, !plan_.copyBtoA.empty() || !plan_.archiveOnA.empty() || !plan_.removeDirsOnA.empty(), scratchA_);
    prepare(b_, !plan_.copyAtoB.empty() || !plan_.archiveOnB.empty() || !plan_.removeDirsOnB.empty(), scratchB_);
}

HoldingFolder::Planned TwoWayRun::holdingPlan(const Direction& direction, const std::vector<std::string>& paths) const {
    // Each destination item a copy replaces may go only as the plan saw it;
    // one it saw no version of goes back.
    HoldingFolder::Planned planned;
    planned.source = held(direction.source);
    planned.modifyWindow = window_;
    planned.archiveTo = backupDirectory_;
    PathKeySet conflicts;
    for (const TwoWayConflict& conflict : plan_.conflicts) conflicts.insert(PathKey::of(conflict.path));
    for (const std::string& path : paths) {
        const std::string key = PathKey::of(path);
        if (conflicts.contains(key)) planned.conflicts.push_back(path);
        if (!direction.destinationListing.find(key)) continue;
        planned.replaced.insert(path);
        if (const auto seen = direction.destinationSeen.find(key); seen != direction.destinationSeen.end())
            planned.seen.emplace(path, seen->second);
    }
    HoldingFolder::lookAtReplaced(held(direction.destination), paths, planned);
    HoldingFolder::lookAtFolders(held(direction.destination), planned);
    return planned;
}

void TwoWayRun::settleHolding(const Direction& direction, const HoldingFolder::Planned& planned) {
    const fs::path& root = held(direction.destination);
    const HoldingFolder::Settlement settlement = HoldingFolder::settle(root, runID_, planned);
    if (!settlement.hasItems()) return;
    if (!settlement.kept.empty()) toMark_.emplace_back(root, settlement);
    // What went back, or stays held, is a version this run did not see: its
    // old entry stays, so the next run finds it changed and plans it.
    for (const std::string& path : settlement.putBack) unsettle(path);
    for (const HoldingFolder::Kept& item : settlement.kept)
        if (!item.path.empty()) unsettle(item.path);
    std::vector<std::string> lines;
    HoldingFolder::describe(settlement, direction.destination.root, lines);
    {
        std::lock_guard guard(state_->lock);
        for (const std::string& line : lines) state_->writeLogLine(line);
    }
    combine(accumulated_, settlement.onlyArchived() ? HoldingFolder::displacedCode : 23, lines);
}

TwoWayRun::Next TwoWayRun::transfer(const Direction& direction) {
    if (direction.paths.empty()) return Next::goOn;
    if (stop_.stop_requested()) return Next::finish;
    const std::vector<std::string> paths = transferList(direction);
    if (paths.empty()) return Next::goOn;
    // A mount made since the run began is seen before rsync writes.
    if (checkAgain_) checkAgain_();
    touched_.insert(touched_.end(), paths.begin(), paths.end());  // as rsync is given them

    const ListFile list(*listFolder_, paths);
    {
        PathKeySet expected;
        expected.reserve(paths.size());
        for (const std::string& path : paths) expected.insert(PathKey::of(path));
        std::lock_guard guard(state_->lock);
        state_->startDirection(std::move(expected), paths, direction.source.root.native(),
                               direction.destination.root.native());
    }

    RsyncInvocation invocation;
    invocation.operation = RsyncOperation::filesFrom(list.path());
    invocation.source = direction.source.root;
    invocation.destination = direction.destination.root;
    invocation.traits = FileSystemTraits::forTransfer(direction.destination.traits, held(direction.source),
                                                      held(direction.destination));
    invocation.filters = job_.filters;
    invocation.leaveOutMarkers = true;
    // The plan copies only what differs, also two edits of one size within
    // one second, which rsync's check by size and time would pass over.
    invocation.ignoreTimes = true;
    // What the transfer replaces waits in the holding folder until it is
    // known to be the version the plan saw; only that one is archived (or,
    // with the archive off, deleted). Where the destination's disk lacks the
    // room for what rsync holds from mounts below it, rsync would fill it
    // and fail part-way: nothing goes to that side.
    HoldingFolder::Planned holding = holdingPlan(direction, paths);
    if (const auto shortfall =
            HoldingFolder::shortfall(held(direction.destination), direction.destination.root, holding))
        throw TwoWayEngineError::noRoomToHold(*shortfall);
    TransferScratch::assign(invocation, held(direction.destination), paths);
    if (!invocation.temporaryDirectory) holding.copies = paths;
    HoldingFolder::prepare(held(direction.destination), runID_);
    invocation.backupDirectory = HoldingFolder::relativePath(runID_);
    HoldingFolder::record(held(direction.destination), runID_, holding);
    for (const std::string& path : holding.conflicts) carried_.insert(PathKey::of(path));
    if (!holding.conflicts.empty()) conflictRecords_.emplace_back(held(direction.destination), runID_);

    CopySourceCheck sources(held(direction.source), paths);  // read just before rsync lists them
    const RsyncExit exit = [&] {
        const EndpointCheck::Held& held = *held_;
        const bool fromA = &direction.source == &a_;
        try {
            RsyncExit transferred = runDirection(invocation, held.descriptor(fromA ? Side::a : Side::b),
                                                 held.descriptor(fromA ? Side::b : Side::a));
            // rsync looks its destination up again by the path of the folder
            // it starts in: one mounted over as it started may have had it
            // write there (told as every check tells it: what now nests
            // first).
            if (held.covered(fromA ? Side::b : Side::a)) {
                if (checkAgain_) checkAgain_();
                throw TwoWayEngineError::folderReplaced(direction.destination.root, fromA ? Side::b : Side::a);
            }
            return transferred;
        } catch (...) {
            // Whatever rsync got to before it went away goes back, named in the log.
            settleHolding(direction, holding);
            throw;
        }
    }();

    PathKeySet unconfirmed;
    std::vector<std::string> received;
    std::vector<ItemizedChange> copied;
    {
        std::lock_guard guard(state_->lock);
        unconfirmed = state_->endDirection(exit.code);
        received = std::move(state_->received);
        copied = std::move(state_->copied);
    }
    unsettled_.merge(unconfirmed);
    // Counted are the copies that arrived; one that did not keeps its old entry.
    const Side to = &direction.destination == &a_ ? Side::a : Side::b;
    const std::vector<ItemizedChange> arrived =
        sources.arrived(held(direction.destination), copied, [&](std::int64_t copyTime, std::int64_t sourceTime) {
            return TwoWayPlanner::sameTime(to, copyTime, sourceTime, window_, keptTime_);
        });
    {
        std::lock_guard guard(state_->lock);
        state_->countCopied(arrived);
    }
    for (std::size_t i = 0, j = 0; i < copied.size(); ++i) {
        if (j < arrived.size() && arrived[j].path == copied[i].path)
            ++j;
        else
            unsettle(copied[i].path);
    }
    combine(accumulated_, exit.code, exit.stderrTail);
    settleHolding(direction, holding);
    const bool goesOn = exit.code == 0 || exit.code == 23 || exit.code == 24;
    unsettleChangedSources(sources, received, direction, goesOn);
    if (stop_.stop_requested() || exit.code == cancelledCode) return Next::finish;
    return goesOn ? Next::goOn : Next::finish;
}

EndpointCheck::Held TwoWayRun::holdPlanned() const {
    return EndpointCheck::holdOrRaise<TwoWayEngineError>(a_.root, b_.root, plan_.folderA, plan_.folderB);
}

RsyncExit TwoWayRun::runDirection(const RsyncInvocation& invocation, int source, int destination) {
    const Clock& clock = clock_;
    TwoWayTransferState& state = *state_;
    return runner_.runBetween(
        source, destination, RsyncArguments::build(invocation), RsyncOutputParser::Mode::transfer, stop_,
        [&state](std::string_view line) {
            std::lock_guard guard(state.lock);
            state.writeLogLine(line);
        },
        [&](RsyncEvent&& event) {
            std::optional<SyncProgress> progress;
            {
                std::lock_guard guard(state.lock);
                if (const RsyncProgressSample* sample = event.asProgress())
                    progress = state.recordProgress(*sample, clock.monotonicSeconds());
                else if (const ItemizedChange* item = event.asItem())
                    progress = state.recordItem(*item, clock.monotonicSeconds());
                else if (const std::string* line = event.asDiagnostic())
                    state.recordDiagnostic(*line);
            }
            if (progress) report(*progress);
        });
}

void TwoWayRun::unsettleChangedSources(CopySourceCheck& sources, const std::vector<std::string>& received,
                                       const Direction& direction, bool rsyncCompleted) {
    // The copy is kept, marked stale, and left out of the new baseline: the
    // next run finds both sides changed, the source the newer, and copies it
    // again; an old entry kept instead would let the stale copy win over a
    // source put back to that entry. After a failure of rsync's own the run
    // ends with rsync's code.
    for (const std::string& path : sources.changed(received)) {
        dropped_.insert(PathKey::of(path));
        const std::vector<std::string> lines = sources.markAndDescribe(held(direction.destination), path, window_);
        {
            std::lock_guard guard(state_->lock);
            for (const std::string& line : lines) state_->writeLogLine(line);
        }
        combine(accumulated_, rsyncCompleted ? 23 : 0, lines);
    }
}

std::vector<std::string> TwoWayRun::transferList(const Direction& direction) {
    std::vector<std::string> paths;
    paths.reserve(direction.paths.size());
    for (const std::string& planned : direction.paths) {
        // Spelled as the source now spells it, after the other direction's alignment.
        const std::string path = direction.sourceRenames.apply(planned);
        if (!direction.stillPlanned.contains(PathKey::of(planned))) {
            unsettle(path);
            fail(std::string(copyDeferredLine) + path);
            continue;
        }
        try {
            alignDestination(direction, path);
            paths.push_back(path);
        } catch (const std::exception& error) {
            unsettle(path);
            fail(SpellingAlignment::failure(path, error));
        }
    }
    return paths;
}

void TwoWayRun::alignDestination(const Direction& direction, std::string_view path) {
    const SideListing& there = direction.destinationListing;
    if (there.empty()) return;
    if (const auto entry = there.find(PathKey::of(path))) {
        const std::string actual = direction.destinationRenames.apply(entry->actualPath);
        SpellingAlignment::align(path, actual, held(direction.destination));
        if (actual != path) direction.destinationRenames.add(actual, path);
        return;
    }
    // A new item inside a folder the destination spells otherwise: without
    // renaming that folder first, rsync would make a second one beside it.
    for (std::size_t slash = path.rfind('/'); slash != std::string_view::npos && slash > 0;
         slash = path.rfind('/', slash - 1)) {
        const std::string_view folder = path.substr(0, slash);
        if (const auto entry = there.find(PathKey::of(folder))) {
            const std::string actual = direction.destinationRenames.apply(entry->actualPath);
            if (actual != folder) {
                SpellingAlignment::align(folder, actual, held(direction.destination));
                direction.destinationRenames.add(actual, folder);
            }
            return;
        }
    }
}

std::vector<std::string> TwoWayRun::recheck(const std::vector<std::string>& paths, const SideListing& entries,
                                            const fs::path& root, const Renames& renames, const SeenByKey* seen) {
    std::vector<std::string> kept;
    // Still the version the plan saw, to the fraction and the file number
    // where it saw them: judged on the same look as the listing's entry.
    const auto stillSeen = [&](const std::string& key, const struct stat& item) {
        if (!seen) return true;
        const auto version = seen->find(key);
        return version != seen->end() && version->second.same(ItemVersion::of(item, true), ItemVersion::Strictness::seen);
    };
    for (const std::string& planned : paths) {
        const std::string path = renames.apply(planned);
        const std::string key = PathKey::of(planned);
        const auto entry = entries.find(key);
        const std::optional<struct stat> item =
            entry ? UnchangedCheck::unchanged(SideEntry{path, entry->kind, entry->size, entry->mtime}, root)
                  : std::nullopt;
        if (item && stillSeen(key, *item)) {
            kept.push_back(path);
        } else {
            unsettle(path);
            fail(std::string(deferredLine) + path);
        }
    }
    return kept;
}

void TwoWayRun::deleteOnSide(const std::vector<std::string>& paths, const SideListing& entries, const fs::path& root,
                             const Renames& renames, const SeenByKey& seen) {
    std::vector<ArchiveMover::Failure> failed;
    // Looked up once, not for each path: the run's identifier is fixed.
    const ::date::time_zone* zone = nullptr;
    try {
        if (!paths.empty()) zone = &ArchiveRunID::currentZone();
    } catch (const std::exception&) {
        // none: each path is refused as the mover finds no zone either
    }
    for (const std::string& path : paths) {
        if (stop_.stop_requested()) break;  // what is left stays for the next run
        const std::vector<std::string> kept = recheck({path}, entries, root, renames, &seen);
        if (kept.empty()) continue;
        const std::vector<ArchiveMover::Failure> notDone =
            ArchiveMover::archive(kept, root, job_.id, runID_, job_.options.archiveEnabled, stop_, zone);
        failed.insert(failed.end(), notDone.begin(), notDone.end());
    }
    if (failed.empty()) return;
    std::vector<std::string> lines;
    {
        std::lock_guard guard(state_->lock);
        for (const ArchiveMover::Failure& failure : failed) {
            lines.push_back(std::string(archiveLine) + failure.path + ": " + failure.reason.reason());
            state_->writeLogLine(lines.back());
        }
    }
    for (const ArchiveMover::Failure& failure : failed) unsettle(failure.path);
    combine(accumulated_, 23, lines);
}

void TwoWayRun::removeFolders(const std::vector<std::string>& folders, const fs::path& root) {
    // A folder that stays for any reason but holding something (or being
    // gone already) is a failure of the run, not a quiet leftover.
    for (const FileError& error : ArchiveMover::removeEmptyDirectories(folders, root, stop_)) {
        // The failure names the folder where it lies, which the held root's
        // path does not spell: the longest of the folders it ends in is it.
        const std::string& where = error.path().native();
        std::string relative = where;
        for (const std::string& folder : folders)
            if (where.ends_with("/" + folder) && (relative == where || folder.size() > relative.size()))
                relative = folder;
        if (relative != where) unsettle(relative);
        fail(std::string(archiveLine) + relative + ": " + error.reason());
    }
}

void TwoWayRun::countArchived() {
    if (!backupDirectory_) return;
    std::int64_t count = 0;
    SideStat diskA(held(a_)), diskB(held(b_));
    for (const PlannedArchive& archive : runPlan_.archives) {
        // A copy's old version is archived under the path as transferred,
        // a deletion under the path as then spelled on its side.
        const std::string path = renamesB_.apply(renamesA_.apply(archive.path));
        try {
            if ((archive.on == Side::a ? diskA : diskB).stat(*backupDirectory_ + "/" + path)) ++count;
        } catch (const FileError&) {
            // not there to count
        }
    }
    std::lock_guard guard(state_->lock);
    state_->stats.filesArchived = count;
}

void TwoWayRun::Renames::add(std::string_view from, std::string_view to) {
    records_.emplace_back(SafeFileSystem::split(from), SafeFileSystem::split(to));
}

std::string TwoWayRun::Renames::apply(std::string_view path) const {
    if (records_.empty()) return std::string(path);
    std::vector<std::string> parts = SafeFileSystem::split(path);
    for (const auto& [from, to] : records_) {
        // The leading components this record's item shared with the path
        // were renamed with it.
        std::size_t shared = 0;
        while (shared < parts.size() && shared < from.size() && shared < to.size() && parts[shared] == from[shared])
            ++shared;
        for (std::size_t i = 0; i < shared; ++i) parts[i] = to[i];
    }
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

void TwoWayRun::nameConflicts() {
    if (plan_.conflicts.empty()) return;
    PathKeySet skipped;
    for (const SkippedFile& file : plan_.skipped) skipped.insert(PathKey::of(file.path));
    std::lock_guard guard(state_->lock);
    for (const TwoWayConflict& conflict : plan_.conflicts) {
        if (conflict.resolution == TwoWayConflict::Resolution::skippedTypeClash) continue;  // named as skipped
        const std::string key = PathKey::of(conflict.path);
        if (!carried_.contains(key)) continue;  // no transfer took it up: the next run plans it afresh
        if (skipped.contains(key) || unsettled_.contains(key) || dropped_.contains(key)) continue;  // named as failed
        state_->writeLogLine(conflictLine(conflict.resolution == TwoWayConflict::Resolution::aWins, conflict.path));
    }
}

void TwoWayRun::unsettle(std::string_view path) { unsettled_.insert(PathKey::of(path)); }

void TwoWayRun::fail(const std::string& line) {
    {
        std::lock_guard guard(state_->lock);
        state_->writeLogLine(line);
    }
    combine(accumulated_, 23, {line});
}

void TwoWayRun::report(const SyncProgress& progress) const {
    if (onProgress_) onProgress_(progress);
}

std::pair<RunStats, RsyncExit> TwoWayRun::finish(std::int32_t code) {
    std::unique_lock guard(state_->lock);
    state_->flushLog();
    if (state_->logError) std::rethrow_exception(state_->logError);
    state_->stats.errors = accumulated_.stderrTail;
    const std::int64_t done = code == 0 || code == 24 ? state_->total : state_->completedBytes + state_->directionBytes;
    const SyncProgress last = state_->aggregator.update(done, clock_.monotonicSeconds());
    RunStats stats = state_->stats;
    guard.unlock();
    // The result names what the holding folders keep: later runs put it
    // back no more. A run that throws leaves it unmarked, tried again.
    for (const auto& [root, settlement] : toMark_) HoldingFolder::markReported(root, runID_, settlement);
    // Nor do they name again the conflicts it named, its own and those of
    // the killed runs it recovered.
    for (const auto& [root, runID] : conflictRecords_) HoldingFolder::conflictsNamed(root, runID);
    report(last);
    return {std::move(stats), RsyncExit(code, accumulated_.stderrTail)};
}

Baseline TwoWayRun::newBaseline(const SideListing& finalA, const SideListing& finalB, const Baseline& old,
                                const PathKeySet& unsettled, std::int64_t modifyWindow,
                                const TwoWayPlanner::KeptTime& keptTime, const PathKeySet& dropped,
                                std::int64_t racyFrom) {
    Baseline::Builder builder;
    const std::size_t nA = finalA.size(), nB = finalB.size(), nL = old.size();
    builder.reserve(std::min(nA, nB) + (unsettled.empty() ? 0 : nL), 0);
    KeyedMerge merge(finalA, finalB, old);
    while (merge.next()) {
        const std::string_view key = merge.key;
        const std::optional<SideListing::Ref> a = merge.a();
        const std::optional<SideListing::Ref> b = merge.b();
        const BaselineEntry* before = merge.base;

        if (dropped.contains(key)) {
            continue;
        } else if (before && PathKey::isPathOrAncestor(key, unsettled)) {
            builder.add(key, *before, !old.marksKnown() || old.racy(key));  // its mark, unknown or not, stays
        } else if (a && b) {
            if (const auto time = agreedTime(*a, *b, modifyWindow, keptTime))
                builder.add(key, BaselineEntry{a->kind, a->size, *time},
                            std::max({a->mtime, b->mtime, *time}) >= racyFrom);
        }
    }
    return std::move(builder).build();
}

}  // namespace kelto
