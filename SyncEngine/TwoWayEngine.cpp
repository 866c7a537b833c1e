#include "SyncEngine/TwoWayEngine.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncEngine/TwoWayListState.h"
#include "SyncEngine/TwoWayPlanner.h"
#include "SyncEngine/TwoWayRun.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "SyncModel/Support/Unicode.h"
#include "SyncModel/Support/Uuid.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unordered_set>
#include <vector>

namespace kelto {

namespace {

// The key of a path without a copy for ASCII paths (already in NFC).
std::string_view keyOf(std::string_view path, std::string& storage) {
    if (Unicode::isAscii(path)) return path;
    storage = Unicode::nfc(path);
    return storage;
}

void addDirection(SyncPlan& out, const std::vector<std::string>& paths, const SideListing& source,
                  const SideListing& receiving, Side to) {
    std::string storage;
    std::size_t sourceHint = 0, receivingHint = 0;  // the plan's lists come in key order
    for (const std::string& path : paths) {
        const std::string_view key = keyOf(path, storage);
        const auto from = source.findFrom(key, sourceHint);
        if (!from || from->kind == EntryKind::directory) continue;  // folders are made by the transfer, not shown
        out.copies.push_back(PlannedCopy{path, from->size, to});
        const auto replaced = receiving.findFrom(key, receivingHint);
        if (replaced && replaced->kind != EntryKind::directory) out.archives.push_back(PlannedArchive{path, to});
    }
}

std::vector<std::string> components(std::string_view path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) out.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

std::filesystem::path under(const std::filesystem::path& root, std::string_view relative) {
    std::string out = root.string();
    out += '/';
    out += relative;
    return out;
}

[[noreturn]] void failRename(int error, const std::filesystem::path& path) {
    throw FileError(error > 0 ? error : EIO, "Could not rename", path);
}

// Renames one item to another spelling of the same name. Linux treats a
// rename between two names of one item as done without doing anything, so a
// case-only change on a case-folding volume is checked in the folder's listing
// and, when it did not take, made through a temporary name.
void renameSameItem(const SafeFileSystem::Folder& folder, const std::string& oldName, const std::string& newName,
                    const std::filesystem::path& from) {
    if (::renameat(folder.get(), oldName.c_str(), folder.get(), newName.c_str()) != 0) failRename(errno, from);
    const std::vector<std::string> names = SafeFileSystem::listNames(folder);
    if (std::find(names.begin(), names.end(), newName) != names.end()) return;

    const std::string temporary = ".kelto-rename-" + Uuid::random().lowerString();
    SafeFileSystem::moveWithoutReplacing(folder, oldName, folder, temporary);
    try {
        SafeFileSystem::moveWithoutReplacing(folder, temporary, folder, newName);
    } catch (const FileError&) {
        try {
            SafeFileSystem::moveWithoutReplacing(folder, temporary, folder, oldName);  // best effort: put it back
        } catch (const FileError&) {
        }
        throw;
    }
}

EntryKind kindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::file;
    if (S_ISDIR(mode)) return EntryKind::directory;
    if (S_ISLNK(mode)) return EntryKind::symlink;
    return EntryKind::other;
}

// lstat of a relative path, walking its folders without following a link.
bool statBelow(const std::filesystem::path& root, std::string_view relative, struct stat& info) {
    std::vector<std::string> parts = SafeFileSystem::split(relative);
    const std::string name = parts.back();
    parts.pop_back();
    try {
        const std::optional<SafeFileSystem::Folder> top = SafeFileSystem::openRoot(root);
        const std::optional<SafeFileSystem::Folder> parent = top ? SafeFileSystem::openPath(*top, parts) : std::nullopt;
        const std::optional<struct stat> found = parent ? SafeFileSystem::statChild(*parent, name) : std::nullopt;
        if (found) info = *found;
        return found.has_value();
    } catch (const FileError&) {
        return false;
    }
}

bool matchesDisk(std::string_view actualPath, EntryKind kind, std::int64_t size, std::int64_t mtime,
                 const std::filesystem::path& root) {
    if (!ArchiveDirectories::isSafeRelativePath(actualPath, root, false)) return false;
    struct stat info {};
    if (!statBelow(root, actualPath, info)) return false;
    const EntryKind onDisk = kindOf(info.st_mode);
    // Whole seconds as rsync lists them: the floor of the time.
    if (onDisk != kind || static_cast<std::int64_t>(info.st_mtim.tv_sec) != mtime) return false;
    return onDisk == EntryKind::directory || static_cast<std::int64_t>(info.st_size) == size;
}

// Runs rsync's listing of `root` into the state; the caller finishes it.
void runListing(const RsyncRunner& runner, const SyncJob& job, const std::filesystem::path& root,
                const FileSystemTraits& traits, std::stop_token stop, TwoWayListState& state) {
    RsyncInvocation invocation;
    invocation.operation = RsyncOperation::listOnly();
    invocation.source = root;
    invocation.traits = traits;
    invocation.filters = job.filters;
    const RsyncExit exit = runner.run(
        RsyncArguments::build(invocation), RsyncOutputParser::Mode::listOnly, stop, nullptr, [&](RsyncEvent&& event) {
            std::optional<SyncProgress> report;
            {
                std::lock_guard guard(state.lock);
                if (ListEntry* entry = event.asListEntry())
                    report = state.record(std::move(*entry));
                else if (const std::string* line = event.asDiagnostic())
                    state.recordOtherLine(*line);
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

std::string resolved(const std::filesystem::path& folder) {
    char* real = ::realpath(folder.c_str(), nullptr);
    if (!real) throw TwoWayEngineError::endpointMissing(folder);
    std::string out(real);
    std::free(real);
    return out;
}

bool isInside(const std::string& inner, const std::string& outer) {
    const std::string prefix = outer.ends_with('/') ? outer : outer + "/";
    return inner.starts_with(prefix);
}

PathKeySet keysOf(const std::vector<std::string>& paths) {
    PathKeySet keys;
    keys.reserve(paths.size());
    std::string storage;
    for (const std::string& path : paths) keys.emplace(keyOf(path, storage));
    return keys;
}

void dropSkipped(std::vector<std::string>& paths, const std::vector<SkippedFile>& skipped) {
    if (skipped.empty()) return;
    std::vector<std::string> skippedPaths;
    for (const SkippedFile& file : skipped) skippedPaths.push_back(file.path);
    const PathKeySet keys = keysOf(skippedPaths);
    std::string storage;
    std::erase_if(paths, [&](const std::string& path) { return keys.contains(keyOf(path, storage)); });
}

}  // namespace

void TwoWayEngine::checkEndpoints(const SyncJob& job, const std::filesystem::path& a, const std::filesystem::path& b) {
    if (job.mode != SyncMode::twoWay) throw TwoWayEngineError::unsupportedMode();
    for (const std::filesystem::path* folder : {&a, &b}) {
        std::error_code error;
        if (!std::filesystem::is_directory(*folder, error)) throw TwoWayEngineError::endpointMissing(*folder);
    }
    const std::string pa = resolved(a), pb = resolved(b);
    if (pa == pb || isInside(pa, pb) || isInside(pb, pa)) throw TwoWayEngineError::nestedEndpoints();
    if (job.source.volume.isReadOnly || job.destination.volume.isReadOnly) throw TwoWayEngineError::readOnlyEndpoint();
}

SideListing TwoWayEngine::list(const SyncJob& job, const std::filesystem::path& root, const FileSystemTraits& traits,
                               std::int64_t offset, std::stop_token stop, const ProgressHandler& onProgress) const {
    if (stop.stop_requested()) throw CancellationError();
    TwoWayListState state(offset, onProgress, *clock);
    report(onProgress, TwoWayListState::scanningReport(std::nullopt, offset));
    runListing(runner, job, root, traits, stop, state);
    return state.finish();
}

std::pair<SideListing, SideListing> TwoWayEngine::listBoth(const SyncJob& job, const std::filesystem::path& a,
                                                           const std::filesystem::path& b,
                                                           const FileSystemTraits& traitsA,
                                                           const FileSystemTraits& traitsB, std::stop_token stop,
                                                           const ProgressHandler& onProgress) const {
    if (stop.stop_requested()) throw CancellationError();
    TwoWayListState stateA(0, onProgress, *clock);
    TwoWayListState stateB(0, onProgress, *clock);
    stateB.reporting = false;  // B's reports wait until A's listing has ended

    std::exception_ptr errorB;
    // Destroyed (stopped and joined) on every way out, before the states.
    std::jthread sideB([&](std::stop_token stopB) {
        try {
            runListing(runner, job, b, traitsB, stopB, stateB);
        } catch (...) {
            errorB = std::current_exception();
        }
    });
    std::stop_callback forward(stop, [&sideB] { sideB.request_stop(); });

    report(onProgress, TwoWayListState::scanningReport(std::nullopt, 0));
    runListing(runner, job, a, traitsA, stop, stateA);
    SideListing sideA = stateA.finish();

    const auto countA = static_cast<std::int64_t>(sideA.size());
    report(onProgress, TwoWayListState::scanningReport(std::nullopt, countA));
    {
        std::lock_guard guard(stateB.lock);
        stateB.offset = countA;
        stateB.reporting = true;
    }
    sideB.join();
    if (errorB) std::rethrow_exception(errorB);
    if (stop.stop_requested()) throw CancellationError();
    return {std::move(sideA), stateB.finish()};
}

std::pair<SyncPlan, TwoWayPlan> TwoWayEngine::plan(const SyncJob& job, const std::filesystem::path& a,
                                                   const std::filesystem::path& b, const FileSystemTraits& traitsA,
                                                   const FileSystemTraits& traitsB, BaselineStore& baseline,
                                                   const std::optional<std::string>& uuidA,
                                                   const std::optional<std::string>& uuidB, std::stop_token stop,
                                                   const ProgressHandler& onProgress) const {
    checkEndpoints(job, a, b);
    // The baseline is read while rsync lists; a listing failure still comes first.
    std::optional<Baseline> base;
    std::exception_ptr loadError;
    SideListing sideA, sideB;
    {
        std::jthread loader([&] {
            try {
                base = baseline.load(uuidA, uuidB);
            } catch (...) {
                loadError = std::current_exception();
            }
        });
        std::tie(sideA, sideB) = listBoth(job, a, b, traitsA, traitsB, stop, onProgress);
    }
    if (loadError) std::rethrow_exception(loadError);
    TwoWayPlan twoWay =
        TwoWayPlanner::plan(sideA, sideB, base, std::max(traitsA.modifyWindow, traitsB.modifyWindow));
    applyPreflightSkips(twoWay, sideA, sideB, traitsA, traitsB);
    SyncPlan syncPlan = makeSyncPlan(twoWay, sideA, sideB);

    SyncProgress planning;
    planning.phase = SyncPhase::planning;
    planning.scannedItems = static_cast<std::int64_t>(sideA.size() + sideB.size());
    report(onProgress, planning);
    return {std::move(syncPlan), std::move(twoWay)};
}

std::pair<RunStats, RsyncExit> TwoWayEngine::run(const SyncJob& job, const TwoWayPlan& plan,
                                                 const std::filesystem::path& a, const std::filesystem::path& b,
                                                 const FileSystemTraits& traitsA, const FileSystemTraits& traitsB,
                                                 BaselineStore& baseline, const std::optional<std::string>& uuidA,
                                                 const std::optional<std::string>& uuidB, const std::string& runID,
                                                 RunLogSink& log, std::stop_token stop,
                                                 const ProgressHandler& onProgress) const {
    return TwoWayRun(*this, job, plan, a, b, traitsA, traitsB, baseline, uuidA, uuidB, runID, log, std::move(stop),
                     onProgress)
        .perform();
}

void TwoWayEngine::applyPreflightSkips(TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB,
                                       const FileSystemTraits& traitsA, const FileSystemTraits& traitsB) {
    auto keep = [](std::vector<SkippedFile> candidates, const std::vector<std::string>& copies) {
        if (candidates.empty()) return candidates;
        const PathKeySet planned = keysOf(copies);
        std::string storage;
        std::erase_if(candidates, [&](const SkippedFile& file) { return !planned.contains(keyOf(file.path, storage)); });
        return candidates;
    };
    std::vector<SkippedFile> toB, toA;
    if (!plan.copyAtoB.empty()) toB = keep(preflightCandidates(sideA, sideB, traitsB), plan.copyAtoB);
    if (!plan.copyBtoA.empty()) toA = keep(preflightCandidates(sideB, sideA, traitsA), plan.copyBtoA);
    dropSkipped(plan.copyAtoB, toB);
    dropSkipped(plan.copyBtoA, toA);

    std::vector<SkippedFile> skipped = std::move(toA);
    skipped.insert(skipped.end(), toB.begin(), toB.end());
    std::unordered_set<std::string_view> seen;
    std::vector<SkippedFile> unique;
    for (const SkippedFile& file : skipped)
        if (seen.insert(file.path).second) unique.push_back(file);
    std::stable_sort(unique.begin(), unique.end(), [](const SkippedFile& x, const SkippedFile& y) {
        return TwoWayPlanner::key(x.path) < TwoWayPlanner::key(y.path);
    });
    plan.skipped = std::move(unique);
}

std::vector<SkippedFile> TwoWayEngine::preflightCandidates(const SideListing& source, const SideListing& destination,
                                                           const FileSystemTraits& destinationTraits) {
    // Such a volume takes every size and tells every spelling apart.
    if (destinationTraits.caseSensitive && !destinationTraits.maxFileSize) return {};
    std::vector<PreflightSkips::Candidate> candidates;
    candidates.reserve(source.size() + destination.size());
    for (const SideListing* listing : {&source, &destination})
        for (const SideListing::Ref entry : *listing)
            candidates.push_back({std::string(entry.actualPath), entry.kind == EntryKind::directory ? 0 : entry.size});
    return PreflightSkips::evaluate(candidates, destinationTraits);
}

SyncPlan TwoWayEngine::makeSyncPlan(const TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB) {
    SyncPlan out;
    addDirection(out, plan.copyAtoB, sideA, sideB, Side::b);
    addDirection(out, plan.copyBtoA, sideB, sideA, Side::a);
    for (const std::string& path : plan.archiveOnA) out.archives.push_back(PlannedArchive{path, Side::a});
    for (const std::string& path : plan.archiveOnB) out.archives.push_back(PlannedArchive{path, Side::b});

    out.skipped = plan.skipped;
    for (const TwoWayConflict& conflict : plan.conflicts) {
        if (conflict.resolution == TwoWayConflict::Resolution::skippedTypeClash)
            out.skipped.push_back(SkippedFile{conflict.path, FileSkipReason::typeConflict});
        out.conflicts.push_back(conflict.path);
    }
    out.entryCountA = fileCount(sideA);
    out.entryCountB = fileCount(sideB);
    out.deletionCount = 0;
    return out;
}

void TwoWayEngine::alignSpelling(std::string_view desired, std::string_view actual, const std::filesystem::path& root) {
    const std::vector<std::string> want = components(desired);
    std::vector<std::string> have = components(actual);
    if (want.size() != have.size()) throw TwoWayEngineError::unsafePath(std::string(actual));

    for (std::size_t i = 0; i < want.size(); ++i) {
        if (have[i] == want[i]) continue;  // bytes, so case and normalisation count
        const std::string oldPath = joined(have, i + 1);
        const std::string oldName = have[i];
        have[i] = want[i];
        const std::string newPath = joined(have, i + 1);
        if (!ArchiveDirectories::isSafeRelativePath(oldPath, root, false) ||
            !ArchiveDirectories::isSafeRelativePath(newPath, root, false))
            throw TwoWayEngineError::unsafePath(oldPath);

        // Both names are looked at and renamed inside their folder, reached
        // without following a link, so a folder swapped for a link meanwhile
        // is refused rather than walked through.
        const std::filesystem::path from = under(root, oldPath);
        const std::optional<SafeFileSystem::Folder> top = SafeFileSystem::openRoot(root);
        if (!top) failRename(ENOENT, from);
        const std::vector<std::string> folders(have.begin(), have.begin() + static_cast<std::ptrdiff_t>(i));
        const std::optional<SafeFileSystem::Folder> parent = SafeFileSystem::openPath(*top, folders);
        if (!parent) failRename(EEXIST, from);  // gone under both spellings

        const std::optional<struct stat> oldInfo = SafeFileSystem::statChild(*parent, oldName);
        const std::optional<struct stat> newInfo = SafeFileSystem::statChild(*parent, want[i]);
        if (!oldInfo && newInfo) continue;  // already spelled as wanted
        if (!oldInfo) failRename(EEXIST, from);
        if (newInfo) {
            // One item under both spellings (a volume that ignores case or
            // normalisation): a plain rename changes the stored spelling.
            if (oldInfo->st_dev != newInfo->st_dev || oldInfo->st_ino != newInfo->st_ino) failRename(EEXIST, from);
            renameSameItem(*parent, oldName, want[i], from);
        } else {
            SafeFileSystem::moveWithoutReplacing(*parent, oldName, *parent, want[i]);
        }
    }
}

bool TwoWayEngine::isUnchanged(const SideEntry& entry, const std::filesystem::path& root) {
    return matchesDisk(entry.actualPath, entry.kind, entry.size, entry.mtime, root);
}

bool TwoWayEngine::isUnchanged(const SideListing::Ref& entry, const std::filesystem::path& root) {
    return matchesDisk(entry.actualPath, entry.kind, entry.size, entry.mtime, root);
}

std::int64_t TwoWayEngine::fileCount(const SideListing& listing) {
    std::int64_t count = 0;
    for (const SideListing::Ref entry : listing)
        if (entry.kind != EntryKind::directory) ++count;
    return count;
}

bool TwoWayEngine::isPathOrAncestor(std::string_view path, const PathKeySet& set) {
    if (set.empty()) return false;  // the usual case, asked once per baseline entry
    if (set.find(path) != set.end()) return true;
    if (path.empty()) return false;
    for (std::size_t slash = path.find('/'); slash != std::string_view::npos; slash = path.find('/', slash + 1))
        if (set.find(path.substr(0, slash)) != set.end()) return true;
    return false;
}

}  // namespace kelto
