#include "SyncEngine/OneWayEngine.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/PathKey.h"
#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/ProgressAggregator.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/SafetyGuard.h"
#include "SyncEngine/SpellingAlignment.h"
#include "SyncEngine/TransferScratch.h"
#include "SyncEngine/internal/CopySourceCheck.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncEngine/internal/HoldingFolder.h"
#include "SyncEngine/internal/OverlapMarkers.h"
#include "SyncEngine/internal/PrivateListFolder.h"
#include "SyncEngine/internal/SeenOnDisk.h"
#include "SyncEngine/internal/SideStat.h"
#include "SyncEngine/internal/TimeProbe.h"
#include "SyncModel/Support/Unicode.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace kelto {

namespace fs = std::filesystem;

namespace {

constexpr double distantPast = -std::numeric_limits<double>::infinity();

// Line classes of rsync's itemised output.
bool isDeletion(const ItemizedChange& c) { return c.code.starts_with("*deleting"); }
bool isDirectory(const ItemizedChange& c) {
    return isDeletion(c) ? c.path.ends_with('/') : c.code.size() >= 2 && c.code[1] == 'd';
}
bool isRoot(const ItemizedChange& c) { return c.path == "."; }
bool isNew(const ItemizedChange& c) {
    if (isDeletion(c)) return false;
    for (std::size_t i = 2; i < c.code.size(); ++i)
        if (c.code[i] != '+') return false;
    return true;
}
bool isReceivedFile(const ItemizedChange& c) { return c.code.starts_with(">f"); }
bool isUntouched(const ItemizedChange& c) {
    return c.code.size() > 2 && c.code[0] == '.' && c.code.find_first_not_of(' ', 2) == std::string::npos;
}
bool isChangedLink(const ItemizedChange& c) { return c.code.starts_with("cL"); }
bool isReserved(const ItemizedChange& c) { return ArchiveDirectories::isReservedPath(c.path); }

std::string withoutTrailingSlash(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return std::string(path);
}

SyncProgress phaseReport(SyncPhase phase, std::int64_t scannedItems = 0) {
    SyncProgress p;
    p.phase = phase;
    p.scannedItems = scannedItems;
    return p;
}

void report(const OneWayEngine::ProgressHandler* onProgress, const SyncProgress& progress) {
    if (onProgress && *onProgress) (*onProgress)(progress);
}

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

// The accounting, log writing and throttled reports of one transfer.
class TransferState {
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
            ++stats_.filesCopied;
            stats_.bytesCopied += item->size;
            aggregator_.recordFile(item->path);
            received_.push_back(item->path);
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
    std::vector<std::string> takeReceived() {
        std::lock_guard guard(lock_);
        return std::move(received_);
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
    std::vector<std::string> received_;
    std::exception_ptr logError_;
    double lastEmission_ = distantPast;
    std::int64_t progressBytes_ = 0;
    std::int64_t bytesTotal_ = 0;
};

// The exclude file of one rsync run, in the job's private folder, removed
// when the call that made it ends.
class ExcludeFile {
public:
    explicit ExcludeFile(const fs::path& folder) : folder_(folder) {}
    ~ExcludeFile() {
        if (!path_.empty()) folder_.remove(path_);
    }
    ExcludeFile(const ExcludeFile&) = delete;
    ExcludeFile& operator=(const ExcludeFile&) = delete;

    void write(const std::vector<SkippedFile>& skipped) {
        path_ = folder_.write(PrivateListFolder::excludesPrefix, PreflightSkips::excludeFileContents(skipped));
    }
    const fs::path& path() const { return path_; }

private:
    PrivateListFolder folder_;
    fs::path path_;
};

RsyncInvocation invocationFor(const SyncJob& job, bool mirror, bool dryRun, const fs::path& source,
                              const fs::path& destination, const FileSystemTraits& traits) {
    RsyncInvocation invocation;
    invocation.operation = mirror ? RsyncOperation::mirror() : RsyncOperation::copy();
    invocation.dryRun = dryRun;
    invocation.source = source;
    invocation.destination = destination;
    invocation.traits = traits;
    invocation.filters = job.filters;
    invocation.leaveOutMarkers = true;
    return invocation;
}

// What cannot be looked at is taken as absent.
std::optional<struct stat> statOrAbsent(SideStat& disk, std::string_view path) {
    try {
        return disk.stat(path);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

// Which "new" lines replace an entry of another kind on B: rsync itemises a
// folder that takes a file's place, or a link that takes a file's, as new,
// yet B's old entry goes. Folders of B that will not exist as real folders
// are remembered, so nothing below them is looked up (nor through a link).
std::vector<bool> replacesOtherKind(const std::vector<ItemizedChange>& lines, const fs::path& destination) {
    std::vector<bool> result(lines.size(), false);
    SideStat disk(destination);
    std::unordered_set<std::string> absentFolders;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const ItemizedChange& line = lines[i];
        if (!isNew(line) || isRoot(line) || line.path == "./" || isReserved(line)) continue;
        const std::string path = withoutTrailingSlash(line.path);
        const std::size_t slash = path.rfind('/');
        bool absent = slash != std::string::npos && absentFolders.contains(path.substr(0, slash));
        if (!absent) {
            const std::optional<struct stat> info = statOrAbsent(disk, path);
            if (!info) {
                absent = true;
            } else if (!S_ISDIR(info->st_mode)) {
                result[i] = true;
                absent = true;
            }
        }
        if (absent && isDirectory(line)) absentFolders.insert(path);
    }
    return result;
}

// Names as a volume that folds them compares them: by case and normalisation.
std::string foldedKey(std::string_view path) { return Unicode::caseFolded(PathKey::of(path)); }

std::string_view lastComponent(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// On a destination that takes two spellings for one name (letter case,
// Unicode normalisation), rsync compares names by their bytes: an item of B
// that A spells otherwise is listed as deleted although A's line stands on
// that very item, and the deletion after the transfer would take what the
// transfer just updated. Such an item is renamed to A's spelling before the
// transfer. It is one where B reaches the same item under both spellings;
// where A itself holds two spellings, the preflight skips decide. Parents
// come before their children, each item once. Where B holds another item
// that looks the same, so that which of them A's spelling reaches cannot be
// told, neither is renamed nor deleted nor written: `unsure` gets both
// spellings, to be left out of the transfer.
std::vector<PlannedRename> respellings(const std::vector<ItemizedChange>& look, const fs::path& destination,
                                       const FileSystemTraits& traits, std::vector<SkippedFile>& unsure) {
    std::vector<PlannedRename> renames;
    if (traits.caseSensitive || std::none_of(look.begin(), look.end(), isDeletion)) return renames;
    std::unordered_map<std::string, std::string> spelledByA;  // empty where A spells a key twice
    for (const ItemizedChange& line : look) {
        if (isDeletion(line) || isRoot(line) || line.path == "./" || isReserved(line)) continue;
        std::string path = withoutTrailingSlash(line.path);
        const auto [entry, added] = spelledByA.try_emplace(foldedKey(path), path);
        if (!added && entry->second != path) entry->second.clear();
    }
    std::unordered_set<std::string> renamed;
    for (const ItemizedChange& line : look) {
        if (!isDeletion(line) || isReserved(line)) continue;
        const std::string path = withoutTrailingSlash(line.path);
        std::string key = foldedKey(path);
        const auto a = spelledByA.find(key);
        if (a == spelledByA.end() || a->second.empty() || renamed.contains(key)) continue;
        const std::string_view name = lastComponent(path);
        if (name == lastComponent(a->second)) continue;  // only a folder on the way is spelled otherwise
        const std::optional<bool> same = SpellingAlignment::reachesSameItem(a->second, path, destination);
        if (!same) {
            unsure.push_back(SkippedFile{a->second, FileSkipReason::caseCollision});
            unsure.push_back(SkippedFile{path, FileSkipReason::caseCollision});
            continue;
        }
        if (!*same) continue;
        renamed.insert(std::move(key));
        const std::size_t slash = a->second.rfind('/');
        const std::string parent = slash == std::string::npos ? "" : a->second.substr(0, slash + 1);
        renames.push_back(PlannedRename{parent + std::string(name), a->second});
    }
    std::stable_sort(renames.begin(), renames.end(), [](const PlannedRename& x, const PlannedRename& y) {
        return std::count(x.to.begin(), x.to.end(), '/') < std::count(y.to.begin(), y.to.end(), '/');
    });
    return renames;
}

// rsync matches its exclude file by the bytes of a name, so on a destination
// that takes two spellings for one name, B's item spelled otherwise than a
// path kept out of the transfer would be deleted as one A lacks, although it
// is the item that path reaches (A spelling a name twice, each skipped). The
// look's deletions under another spelling of a kept-out path, or below one,
// are kept out too.
std::vector<SkippedFile> otherSpellingsOnB(const std::vector<SkippedFile>& keptOut,
                                           const std::vector<ItemizedChange>& look, const FileSystemTraits& traits) {
    std::vector<SkippedFile> result;
    if (traits.caseSensitive || keptOut.empty()) return result;
    std::unordered_map<std::string, FileSkipReason> keys;
    std::unordered_set<std::string> spelled;
    for (const SkippedFile& file : keptOut) {
        const std::string path = withoutTrailingSlash(file.path);
        keys.try_emplace(foldedKey(path), file.reason);
        spelled.insert(path);
    }
    for (const ItemizedChange& line : look) {
        if (!isDeletion(line) || isReserved(line)) continue;
        const std::string path = withoutTrailingSlash(line.path);
        if (spelled.contains(path)) continue;
        const std::string key = foldedKey(path);
        for (std::size_t end = key.find('/'); ; end = key.find('/', end + 1)) {
            const auto found = keys.find(end == std::string::npos ? key : key.substr(0, end));
            if (found != keys.end()) {
                result.push_back(SkippedFile{path, found->second});
                break;
            }
            if (end == std::string::npos) break;
        }
    }
    return result;
}

// The look as rsync gives it once the renames are done: deletion lines that
// named a renamed item, or what it holds, under an old spelling are gone,
// and the others are spelled below renamed folders as they will be, each
// once. Nothing when there is nothing to rename. Only the renamed item's
// own spelling is respelled: another item whose name merely folds alike
// (composed otherwise, on a volume that keeps those apart) stays as it is.
std::optional<std::vector<ItemizedChange>> respelled(const std::vector<ItemizedChange>& look,
                                                     const std::vector<PlannedRename>& renames) {
    if (renames.empty()) return std::nullopt;
    std::unordered_map<std::string, std::string_view> newName;  // by the spelling renamed, parents respelled
    for (const PlannedRename& rename : renames) newName.emplace(rename.from, lastComponent(rename.to));
    std::unordered_set<std::string> onA;
    for (const ItemizedChange& line : look)
        if (!isDeletion(line)) onA.insert(withoutTrailingSlash(line.path));

    std::vector<ItemizedChange> result;
    std::unordered_set<std::string> deleted;
    for (const ItemizedChange& line : look) {
        if (!isDeletion(line)) {
            result.push_back(line);
            continue;
        }
        const std::string path = withoutTrailingSlash(line.path);
        std::string spelled;
        for (std::size_t start = 0; start <= path.size();) {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos) end = path.size();
            if (start > 0) spelled += '/';
            const std::size_t at = spelled.size();
            spelled += std::string_view(path).substr(start, end - start);
            if (const auto renamed = newName.find(spelled); renamed != newName.end())
                spelled.replace(at, std::string::npos, renamed->second);
            start = end + 1;
        }
        if (onA.contains(spelled) || !deleted.insert(spelled).second) continue;
        ItemizedChange kept = line;
        kept.path = spelled + (line.path.ends_with('/') ? "/" : "");
        result.push_back(std::move(kept));
    }
    return result;
}

// The code a run ends with when the engine found a fault of its own: rsync's
// own failure, if it had one, stays.
std::int32_t engineCode(std::int32_t rsyncCode, std::int32_t code) {
    return rsyncCode == 0 || rsyncCode == 24 ? code : rsyncCode;
}

// Copies of sources rewritten (or gone) while rsync read them: named in the
// log and the exit, the rewritten ones marked stale so that the next run
// copies them again. The run is partial at best; a failure rsync itself
// reported keeps its code.
RsyncExit withChangedSources(CopySourceCheck& sources, TransferState& state, const RsyncExit& exit,
                             const fs::path& destination, std::int64_t modifyWindow) {
    const std::vector<std::string> changed = sources.changed(state.takeReceived());
    if (changed.empty()) return exit;
    std::vector<std::string> tail = exit.stderrTail;
    for (const std::string& path : changed)
        for (std::string& line : sources.markAndDescribe(destination, path, modifyWindow)) {
            state.writeLine(line);
            tail.push_back(std::move(line));
        }
    return RsyncExit(engineCode(exit.code, 23), std::move(tail));
}

// What the transfer's exclude file keeps rsync away from: every skip but
// pipes, sockets and devices, which rsync passes over by itself; excluding
// one would also keep B's item of that name from the deletion the plan lists.
std::vector<SkippedFile> excludedFrom(const std::vector<SkippedFile>& skipped) {
    std::vector<SkippedFile> excluded;
    for (const SkippedFile& file : skipped)
        if (file.reason != FileSkipReason::specialFile) excluded.push_back(file);
    return excluded;
}

// A path rsync's exclude file cannot hold would be copied after all.
void checkExcludable(const std::vector<SkippedFile>& skipped) {
    for (const SkippedFile& file : skipped)
        if (!PreflightSkips::canExclude(file.path)) throw OneWayEngineError::skipTooLong(file.path);
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

// Adds the skips of `more` whose paths are not skipped yet.
void addSkips(std::vector<SkippedFile>& skipped, const std::vector<SkippedFile>& more) {
    if (more.empty()) return;
    std::unordered_set<std::string> paths;
    for (const SkippedFile& file : skipped) paths.insert(file.path);
    for (const SkippedFile& file : more)
        if (paths.insert(file.path).second) skipped.push_back(file);
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

// What the transfer may take from B without a new review. With the archive
// on, whatever rsync takes is archived, so it may take what it finds and the
// record counts what it archived, unless `onlyPlanned` (a plan no guard
// asked about). Otherwise only what the reviewed plan listed. What a later
// look would take beyond that never goes unreviewed: a deletion stops the
// run for a new plan, and so do replacements that on
// their own would reach the guard's review (a disk swapped or rewritten
// wholesale since planning); the other replacements are left for the next
// run, whose plan lists them, as a change made after the run would be: the
// transfer is kept away from them. Whatever the transfer itself takes
// beyond the plan (a change after the last look, or after the plan of a copy
// job that makes no later look) is held and kept, never deleted.
struct Bound {
    std::optional<std::string_view> refusal;  // a reason to plan again instead
    HoldingFolder::Planned planned;           // what may go for good
    std::vector<std::string> leftAlone;       // replacements the transfer is kept away from
};

Bound boundByPlan(const SyncJob& job, const SyncPlan& plan, const std::vector<ItemizedChange>* look,
                  const std::unordered_set<std::string>& skipped, const fs::path& destination, bool onlyPlanned) {
    Bound bound;
    if (job.options.archiveEnabled && !onlyPlanned) return bound;
    std::unordered_set<std::string> listed;
    for (const PlannedArchive& archive : plan.archives) listed.insert(archive.path);
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
    for (std::size_t i = 0; i < look->size(); ++i) {
        const ItemizedChange& line = (*look)[i];
        // What the exclude file keeps rsync away from stays anyway.
        if (isReserved(line) || isUnderSkipped(line.path, skipped)) continue;
        if (isDeletion(line)) {
            // A copy job deletes nothing; a folder goes only once emptied of
            // what the plan listed.
            if (job.mode == SyncMode::copy || isDirectory(line)) continue;
            if (!listed.contains(line.path)) {
                bound.refusal = OneWayEngine::deletionsChangedLine;
                return bound;
            }
            bound.planned.deleted.insert(line.path);
        } else if (otherKind[i] || (!isDirectory(line) && !isRoot(line) && !isNew(line) &&
                                    (isReceivedFile(line) || isChangedLink(line)))) {
            std::string path = withoutTrailingSlash(line.path);
            if (listed.contains(path)) {
                bound.planned.replaced.insert(std::move(path));
            } else {
                beyond.archives.push_back(PlannedArchive{path, Side::b});
                bound.leftAlone.push_back(std::move(path));
            }
        }
    }
    if (bound.leftAlone.empty()) return bound;
    const bool excludable = std::all_of(bound.leftAlone.begin(), bound.leftAlone.end(),
                                        [](const std::string& path) { return PreflightSkips::canExclude(path); });
    if (!excludable || SafetyGuard::evaluate(beyond, job.mode, job.options, std::nullopt, {}).kind !=
                           GuardVerdict::Case::proceed)
        bound.refusal = OneWayEngine::replacementsChangedLine;
    return bound;
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

// What the last look before the transfer tells it: a fresh dry run, or the
// plan's own while it is a moment old.
struct LastLook {
    std::optional<std::string_view> refusal;  // a reason to plan again instead
    bool unchanged = false;                   // nothing for the transfer to do
    std::vector<std::string> received;        // the files rsync will write
    std::int64_t largest = 0;                 // the size of the largest of them
    Bound bound;
};

LastLook lookAgain(const std::vector<ItemizedChange>& fresh, const SyncJob& job, const SyncPlan& plan,
                   const std::vector<SkippedFile>& excluded, const fs::path& destination, bool onlyPlanned) {
    LastLook look;
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

    look.bound = boundByPlan(job, plan, &fresh, skipped, destination, onlyPlanned);
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

// The engine's error for a fault of the shared endpoint checks.
[[noreturn]] void fail(const EndpointCheck::Fault& fault) {
    switch (fault.kind) {
    case EndpointCheck::Fault::Case::missing: throw OneWayEngineError::endpointMissing(fault.folder);
    case EndpointCheck::Fault::Case::nested: throw OneWayEngineError::nestedEndpoints();
    case EndpointCheck::Fault::Case::reservedNotFolder: throw OneWayEngineError::reservedNotFolder(fault.folder);
    case EndpointCheck::Fault::Case::replaced: throw OneWayEngineError::folderReplaced(fault.folder, fault.side);
    }
    throw OneWayEngineError::nestedEndpoints();
}

// Planned folders are written only while each side leads to the folder its
// plan was made on: a link along a path retargeted, a folder renamed into a
// side's place or a file system mounted over it since would send rsync
// elsewhere.
void checkPlannedFolders(const SyncPlan& plan, const fs::path& source, const fs::path& destination) {
    if (const auto fault = EndpointCheck::replaced(source, destination, plan.folderA, plan.folderB)) fail(*fault);
}

// The planned folders, held for rsync to be given: checked the moment before
// it starts.
EndpointCheck::Held holdPlannedFolders(const SyncPlan& plan, const fs::path& source, const fs::path& destination) {
    std::variant<EndpointCheck::Held, EndpointCheck::Fault> held =
        EndpointCheck::hold(source, destination, plan.folderA, plan.folderB);
    if (const EndpointCheck::Fault* fault = std::get_if<EndpointCheck::Fault>(&held)) fail(*fault);
    return std::move(std::get<EndpointCheck::Held>(held));
}

}  // namespace

void OneWayEngine::checkEndpoints(const SyncJob& job, const fs::path& source, const fs::path& destination,
                                  const TreeOverlap& treesOverlap) {
    if (job.mode == SyncMode::twoWay) throw OneWayEngineError::unsupportedMode();
    if (const auto fault = EndpointCheck::firstFault(source, destination, treesOverlap)) fail(*fault);
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
                                               const FileSystemTraits& traits, const fs::path* excludeFile,
                                               std::stop_token stop, const ProgressHandler* onProgress,
                                               std::vector<SkippedFile>* passedOver) const {
    // Always a mirror, also for copy jobs: the deletion lines show what only B holds.
    RsyncInvocation invocation = invocationFor(job, true, true, source, destination, traits);
    if (excludeFile) invocation.extraExcludeFile = *excludeFile;

    ScanState state(*clock, onProgress);
    // A dry run walks both folders: one met from the other is refused.
    const OverlapMarkers markers(source, destination, job.filters, treesOverlap);
    if (markers.seen()) throw OneWayEngineError::nestedEndpoints();
    invocation.alwaysListed = markers.names();
    const RsyncExit exit = runRsync(RsyncArguments::build(invocation), stop, nullptr, [&](RsyncEvent&& event) {
        if (ItemizedChange* item = event.asItem()) {
            const auto walk = isDeletion(*item) ? OverlapMarkers::Walk::b : OverlapMarkers::Walk::a;
            if (!markers.catches(item->path, walk)) state.append(std::move(*item));
        } else if (const std::string* line = event.asDiagnostic(); line && passedOver) {
            if (std::optional<std::string> path = RsyncOutputParser::passedOverPath(*line))
                passedOver->push_back(SkippedFile{std::move(*path), FileSkipReason::specialFile});
        }
    });
    if (markers.seen()) throw OneWayEngineError::nestedEndpoints();
    if (exit.code != 0 && exit.code != 24) throw OneWayEngineError::scanFailed(exit.code, exit.stderrTail);
    if (stop.stop_requested()) throw OneWayEngineError::scanFailed(RsyncRunner::cancelledCode, exit.stderrTail);
    return state.collectedItems();
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
    const SeenOnDisk::Start lookStart = SeenOnDisk::Start::now();
    std::vector<ItemizedChange> first = scan(job, source, destination, traits, nullptr, stop, reports, &specials);

    std::vector<PreflightSkips::Candidate> candidates;
    candidates.reserve(first.size());
    for (const ItemizedChange& line : first) {
        if (isDeletion(line) || line.path == "." || line.path == "./" || isReserved(line)) continue;
        candidates.push_back({line.path, isDirectory(line) ? 0 : line.size});
    }
    std::vector<SkippedFile> skipped = PreflightSkips::evaluate(candidates, traits);
    if (!traits.caseSensitive) addSkips(skipped, PreflightSkips::normalisationTwins(candidates));
    addSkips(skipped, clampedTimes(first, source, destination, traits.modifyWindow));
    // Items of B spelled otherwise than A's are renamed, not deleted.
    std::vector<SkippedFile> unsure;
    std::vector<PlannedRename> renames = respellings(first, destination, traits, unsure);
    addSkips(skipped, unsure);
    checkExcludable(skipped);

    std::optional<std::vector<ItemizedChange>> second;
    if (!skipped.empty()) {
        std::vector<SkippedFile> keptOut = skipped;
        addSkips(keptOut, otherSpellingsOnB(skipped, first, traits));
        checkExcludable(keptOut);
        ExcludeFile excludes(listFolder);
        excludes.write(keptOut);
        second = scan(job, source, destination, traits, &excludes.path(), stop, reports);
    }

    addSkips(skipped, specials);  // named, yet no cause for a second dry run
    const auto firstRespelled = respelled(first, renames);
    const auto secondRespelled = second ? respelled(*second, renames) : std::nullopt;
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
    }
    return result;
}

// One run (OneWayEngine::run): the values it keeps from start to end, and
// its steps, in the order perform() takes them.
class OneWayEngine::Run {
public:
    Run(const OneWayEngine& engine, const SyncJob& job, const SyncPlan& plan, const fs::path& source,
        const fs::path& destination, const FileSystemTraits& traits, const std::string& runID, RunLogSink& log,
        std::stop_token stop, const ProgressHandler& onProgress, Basis* basis)
        : engine_(engine), job_(job), plan_(plan), source_(source), destination_(destination), traits_(traits),
          runID_(runID), log_(log), stop_(std::move(stop)), onProgress_(onProgress), basis_(basis),
          mirror_(job.mode == SyncMode::mirror), archiving_(job.options.archiveEnabled), holding_(!archiving_) {}

    std::pair<RunStats, RsyncExit> perform() {
        prepare();
        recoverHeld();
        if (const std::optional<std::string_view> refusal = lookLast()) return refused(*refusal);
        const RsyncInvocation invocation = prepareTransfer();
        const RsyncExit transferred = transfer(invocation);
        RsyncExit exit = withChangedSources(*sources_, *state_, transferred, destination_, traits_.modifyWindow);
        const std::vector<std::string> held = settle();
        return finish(transferred, std::move(exit), held, invocation);
    }

private:
    void prepare();
    void recoverHeld();
    std::optional<std::string_view> lookLast();
    void alignSpellings();
    std::pair<RunStats, RsyncExit> refused(std::string_view reason);
    RsyncInvocation prepareTransfer();
    RsyncExit transfer(const RsyncInvocation& invocation);
    std::vector<std::string> settle();
    std::pair<RunStats, RsyncExit> finish(const RsyncExit& transferred, RsyncExit exit,
                                          const std::vector<std::string>& held, const RsyncInvocation& invocation);

    const OneWayEngine& engine_;
    const SyncJob& job_;
    const SyncPlan& plan_;
    const fs::path& source_;
    const fs::path& destination_;
    const FileSystemTraits& traits_;
    const std::string& runID_;
    RunLogSink& log_;
    std::stop_token stop_;
    const ProgressHandler& onProgress_;
    Basis* basis_;

    const bool mirror_;
    const bool archiving_;
    // Without the archive, what a run deletes or replaces waits in a holding
    // folder until the transfer is over: rsync deletes what it finds missing
    // then, and replaces what changed, whatever the plan said.
    const bool holding_;

    // Declared first, so that it goes last: once the tree is prepared.
    std::optional<EmptyRunFolderRemoval> removal_;
    TransferScratch::Claim scratch_;
    std::vector<SkippedFile> excluded_;  // only the path of each reaches the exclude file
    std::vector<std::string> notes_;     // what the recovery of earlier runs' held items did
    std::vector<std::string> leftovers_;
    bool stillHeld_ = false;  // what an earlier run held and still cannot go back
    bool putBack_ = false;    // B changed since the plan looked

    Bound bound_;
    std::vector<std::string> received_;  // the files rsync will write, as last seen
    std::int64_t largest_ = 0;           // and the largest of them
    bool unchanged_ = false;             // the last look left the transfer nothing to do
    std::vector<PlannedRename> renames_;    // B's items to spell as A does, before the transfer
    std::vector<std::string> misspelled_;  // the renames that failed

    std::optional<ExcludeFile> excludes_;
    std::optional<TransferState> state_;
    std::optional<CopySourceCheck> sources_;
};

void OneWayEngine::Run::prepare() {
    checkEndpoints(job_, source_, destination_, engine_.treesOverlap);
    if (!ArchiveRunID::date(runID_)) throw OneWayEngineError::invalidRunID();
    checkPlannedFolders(plan_, source_, destination_);
    excluded_ = excludedFrom(plan_.skipped);
    checkExcludable(excluded_);
    ArchiveDirectories::prepareTree(destination_, job_.id, runID_);
    removal_.emplace(destination_, job_.id, runID_);
}

// What runs that never settled still hold goes back before anything is
// compared; never while another run may be working here.
void OneWayEngine::Run::recoverHeld() {
    scratch_ = TransferScratch::claim(destination_, [&] {
        for (const HoldingFolder::Settlement& settlement : HoldingFolder::recover(destination_)) {
            putBack_ = putBack_ || !settlement.putBack.empty();
            HoldingFolder::describeRecovered(settlement, destination_, notes_);
            stillHeld_ = stillHeld_ || settlement.hasRetries();
        }
    });
    // For the log only: a leftover in the reserved folder harms nothing.
    for (const FileError& leftover : scratch_.leftovers())
        leftovers_.push_back(std::string(TransferScratch::leftoverLine) + leftover.what());
}

// The last look at the folders and what it bounds the transfer to; a reason
// to plan again instead, if it finds one.
std::optional<std::string_view> OneWayEngine::Run::lookLast() {
    // The plan's look stands while it is a moment old and nothing was put
    // back into B since: a run that starts no transfer can replace or delete
    // nothing, and what a transfer takes beyond the plan stays recoverable,
    // so a change made since is the next run's, as one made after this run
    // would be. An older plan is looked at again, by a mirror, which may
    // delete; a copy job's transfer holds what it replaces beyond the plan.
    // Its age counts a suspend, during which either side may change.
    const bool planIsCurrent =
        basis_ && !putBack_ && engine_.clock->secondsSinceBoot() - basis_->endedAt <= currentPlanSeconds;
    std::vector<ItemizedChange> fresh;  // not kept through the transfer
    const std::vector<ItemizedChange>* lastLook = planIsCurrent ? &basis_->look : nullptr;
    if (!lastLook && (mirror_ || engine_.onlyPlanned)) {
        fresh = engine_.scan(job_, source_, destination_, traits_, nullptr, stop_, nullptr);
        lastLook = &fresh;
    }
    // Only what the plan listed is renamed. A mirror that finds another item
    // spelled otherwise would delete it after the transfer: it plans again.
    renames_ = plan_.renames;
    std::optional<std::vector<ItemizedChange>> respelledLook;
    if (lastLook) {
        renames_.clear();
        std::vector<SkippedFile> unsure;
        for (PlannedRename& rename : respellings(*lastLook, destination_, traits_, unsure)) {
            if (std::find(plan_.renames.begin(), plan_.renames.end(), rename) != plan_.renames.end())
                renames_.push_back(std::move(rename));
            else if (mirror_)
                return deletionsChangedLine;
        }
        // Items found alike since the plan are left out too; a mirror, which
        // would delete one of them after the transfer, plans again.
        const auto planned = [&](const SkippedFile& file) {
            return std::find(plan_.skipped.begin(), plan_.skipped.end(), file) != plan_.skipped.end();
        };
        if (mirror_ && !std::all_of(unsure.begin(), unsure.end(), planned)) return deletionsChangedLine;
        addSkips(excluded_, unsure);
        respelledLook = respelled(*lastLook, renames_);
        if (respelledLook) lastLook = &*respelledLook;
        addSkips(excluded_, otherSpellingsOnB(excluded_, *lastLook, traits_));
    }

    if (lastLook) {
        LastLook look = lookAgain(*lastLook, job_, plan_, excluded_, destination_, engine_.onlyPlanned);
        if (look.refusal) return look.refusal;
        unchanged_ = look.unchanged;
        received_ = std::move(look.received);
        largest_ = look.largest;
        bound_ = std::move(look.bound);
    } else {
        bound_ = boundByPlan(job_, plan_, nullptr, {}, destination_, engine_.onlyPlanned);
        for (const PlannedCopy& copy : plan_.copies) {
            received_.push_back(copy.path);
            largest_ = std::max(largest_, copy.size);
        }
    }
    if (basis_) std::vector<ItemizedChange>().swap(basis_->look);
    return std::nullopt;
}

std::pair<RunStats, RsyncExit> OneWayEngine::Run::refused(std::string_view reason) {
    writeLines(log_, leftovers_);
    writeLines(log_, notes_);
    RunStats stats;
    stats.errors = notes_;
    stats.errors.emplace_back(reason);
    return {stats, RsyncExit(replanCode, {std::string(reason)})};
}

// A rename that fails keeps the transfer away from both spellings, so that
// the item is neither updated nor deleted; the run is not a plain success.
void OneWayEngine::Run::alignSpellings() {
    std::vector<std::string> failed;
    for (const PlannedRename& rename : renames_) {
        const bool below = std::any_of(failed.begin(), failed.end(), [&](const std::string& folder) {
            return rename.to.starts_with(folder) && rename.to[folder.size()] == '/';
        });
        if (below) continue;
        try {
            SpellingAlignment::align(rename.to, rename.from, destination_);
        } catch (const std::exception& error) {
            misspelled_.push_back(SpellingAlignment::failure(rename.to, error));
            failed.push_back(rename.to);
            excluded_.push_back(SkippedFile{rename.to, FileSkipReason::caseCollision});
            excluded_.push_back(SkippedFile{rename.from, FileSkipReason::caseCollision});
        }
    }
    checkExcludable(excluded_);
}

RsyncInvocation OneWayEngine::Run::prepareTransfer() {
    // A mount made since the run began (planning can take minutes) is seen
    // before anything of B is moved aside, renamed or written, and so is a
    // side that no longer leads to the folder planned on.
    checkEndpoints(job_, source_, destination_, engine_.treesOverlap);
    checkPlannedFolders(plan_, source_, destination_);
    alignSpellings();

    for (const std::string& path : bound_.leftAlone)
        excluded_.push_back(SkippedFile{path, FileSkipReason::typeConflict});
    excludes_.emplace(engine_.listFolder);  // also clears what killed runs left
    if (!excluded_.empty()) excludes_->write(excluded_);

    RsyncInvocation invocation = invocationFor(job_, mirror_, false, source_, destination_, traits_);
    if (archiving_) invocation.backupDirectory = ArchiveDirectories::runFolderRelativePath(job_.id, runID_);
    if (holding_) {
        HoldingFolder::prepare(destination_, runID_);
        invocation.backupDirectory = HoldingFolder::relativePath(runID_);
        bound_.planned.source = source_;  // what the transfer's copies are copies of
        bound_.planned.modifyWindow = traits_.modifyWindow;
    }
    if (!excluded_.empty()) invocation.extraExcludeFile = excludes_->path();
    if (mirror_) invocation.maximumDeletions = plan_.deletionCount;
    // A copy job's plan may be older than files that have appeared since.
    TransferScratch::assign(invocation, destination_, received_, mirror_, largest_);
    return invocation;
}

// rsync's own exit; none runs when the last look found nothing to do.
RsyncExit OneWayEngine::Run::transfer(const RsyncInvocation& invocation) {
    TransferState& state = state_.emplace(plan_, received_, log_, *engine_.clock);
    for (const std::string& line : leftovers_) state.writeLine(line);
    for (const std::string& line : notes_) state.writeLine(line);
    for (const std::string& line : misspelled_) state.writeLine(line);
    for (const std::string& path : bound_.leftAlone) state.writeLine(std::string(leftForNextRunLine) + path);
    report(&onProgress_, state.firstReport());

    sources_.emplace(source_, received_);  // read just before rsync lists them
    if (unchanged_ && !stop_.stop_requested()) return RsyncExit(0, {});
    const EndpointCheck::Held held = holdPlannedFolders(plan_, source_, destination_);
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
            checkEndpoints(job_, source_, destination_, engine_.treesOverlap);
            throw OneWayEngineError::folderReplaced(destination_, Side::b);
        }
        return exit;
    } catch (...) {
        if (holding_) HoldingFolder::settle(destination_, runID_, bound_.planned);  // whatever rsync got to
        throw;
    }
}

// Also after a stop or a failure: rsync may have taken things meanwhile.
std::vector<std::string> OneWayEngine::Run::settle() {
    std::vector<std::string> held;
    if (holding_) {
        const HoldingFolder::Settlement settlement = HoldingFolder::settle(destination_, runID_, bound_.planned);
        HoldingFolder::describe(settlement, "Put back: ", "Kept in ", destination_, held);
        // Named this once: later runs leave what has its place taken to the
        // user and try the rest again.
        if (!settlement.kept.empty()) HoldingFolder::markReported(destination_, runID_, settlement);
        if (!held.empty()) held.emplace_back(heldBackLine);
    }
    for (const std::string& line : held) state_->writeLine(line);
    return held;
}

std::pair<RunStats, RsyncExit> OneWayEngine::Run::finish(const RsyncExit& transferred, RsyncExit exit,
                                                         const std::vector<std::string>& held,
                                                         const RsyncInvocation& invocation) {
    auto [stats, last] = state_->finish(exit.code, exit.stderrTail);
    report(&onProgress_, last);
    report(&onProgress_, phaseReport(SyncPhase::archiving));
    report(&onProgress_, phaseReport(SyncPhase::finalizing));

    stats.errors.insert(stats.errors.begin(), notes_.begin(), notes_.end());
    if (!held.empty()) {
        // Never a plain success; a code rsync already failed with stays.
        stats.errors.insert(stats.errors.end(), held.begin(), held.end());
        std::vector<std::string> tail = exit.stderrTail;
        tail.insert(tail.end(), held.begin(), held.end());
        // Held-back items ask for a new plan, which outranks a partial copy.
        exit = RsyncExit(engineCode(transferred.code, replanCode), std::move(tail));
    }
    // Items an earlier run could not give back, and still cannot: never a plain success.
    if (stillHeld_) exit = RsyncExit(engineCode(exit.code, 23), std::move(exit.stderrTail));
    if (!misspelled_.empty()) {
        stats.errors.insert(stats.errors.end(), misspelled_.begin(), misspelled_.end());
        std::vector<std::string> tail = std::move(exit.stderrTail);
        tail.insert(tail.end(), misspelled_.begin(), misspelled_.end());
        exit = RsyncExit(engineCode(exit.code, 23), std::move(tail));
    }

    if (archiving_) stats.filesArchived = countArchived(destination_ / *invocation.backupDirectory);
    return {std::move(stats), exit};
}

std::pair<RunStats, RsyncExit> OneWayEngine::run(const SyncJob& job, const SyncPlan& plan, const fs::path& source,
                                                 const fs::path& destination, const FileSystemTraits& traits,
                                                 const std::string& runID, RunLogSink& log, std::stop_token stop,
                                                 const ProgressHandler& onProgress, Basis* basis) const {
    return Run(*this, job, plan, source, destination, traits, runID, log, std::move(stop), onProgress, basis).perform();
}

}  // namespace kelto
