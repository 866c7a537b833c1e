#pragma once

#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RsyncInvocation.h"
#include "SyncEngine/SyncProgress.h"
#include "SyncEngine/internal/SeenOnDisk.h"
#include "SyncEngine/internal/SideStat.h"
#include "SyncModel/RunStats.h"
#include "SyncModel/SyncJob.h"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// What the one-way engine's planning, its run and its spelling alignment
// share: the classes of rsync's itemised lines, the invocation both its dry
// runs and its transfer start from, and the rules for its exclude lists.
namespace OneWayLines {

inline constexpr double distantPast = -std::numeric_limits<double>::infinity();

// Line classes of rsync's itemised output.
bool isDeletion(const ItemizedChange& c);
bool isDirectory(const ItemizedChange& c);
bool isRoot(const ItemizedChange& c);
bool isNew(const ItemizedChange& c);
bool isReceivedFile(const ItemizedChange& c);
bool isUntouched(const ItemizedChange& c);
bool isChangedLink(const ItemizedChange& c);
bool isReserved(const ItemizedChange& c);

std::string withoutTrailingSlash(std::string_view path);

SyncProgress phaseReport(SyncPhase phase, std::int64_t scannedItems = 0);
void report(const OneWayEngine::ProgressHandler* onProgress, const SyncProgress& progress);

RsyncInvocation invocationFor(const SyncJob& job, bool mirror, bool dryRun, const std::filesystem::path& source,
                              const std::filesystem::path& destination, const FileSystemTraits& traits);

// What cannot be looked at is taken as absent.
std::optional<struct stat> statOrAbsent(SideStat& disk, std::string_view path);

// Which "new" lines replace an entry of another kind on B: rsync itemises a
// folder that takes a file's place, or a link that takes a file's, as new,
// yet B's old entry goes. Folders of B that will not exist as real folders
// are remembered, so nothing below them is looked up (nor through a link).
std::vector<bool> replacesOtherKind(const std::vector<ItemizedChange>& lines,
                                    const std::filesystem::path& destination);

// What the transfer's exclude file keeps rsync away from: every skip but
// pipes, sockets and devices, which rsync passes over by itself; excluding
// one would also keep B's item of that name from the deletion the plan lists.
std::vector<SkippedFile> excludedFrom(const std::vector<SkippedFile>& skipped);

// A path rsync's exclude file cannot hold would be copied after all.
void checkExcludable(const std::vector<SkippedFile>& skipped);

// Adds the skips of `more` whose paths are not skipped yet.
void addSkips(std::vector<SkippedFile>& skipped, const std::vector<SkippedFile>& more);

// The moment a look at B begins, on B's disk (SeenOnDisk::Start::now); a
// stop while it waits ends the run as a stopped dry run does (code 20).
SeenOnDisk::Start startOfLook(const std::filesystem::path& destination, std::stop_token stop);

}  // namespace OneWayLines

}  // namespace kelto
