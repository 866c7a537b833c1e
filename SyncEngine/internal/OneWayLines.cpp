#include "SyncEngine/internal/OneWayLines.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/PreflightSkips.h"
#include "SyncEngine/RsyncRunner.h"
#include "SyncModel/Support/FileIO.h"

#include <unordered_set>

namespace kelto::OneWayLines {

namespace fs = std::filesystem;

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

SyncProgress phaseReport(SyncPhase phase, std::int64_t scannedItems) {
    SyncProgress p;
    p.phase = phase;
    p.scannedItems = scannedItems;
    return p;
}

void report(const OneWayEngine::ProgressHandler* onProgress, const SyncProgress& progress) {
    if (onProgress && *onProgress) (*onProgress)(progress);
}

RsyncInvocation invocationFor(const SyncJob& job, bool mirror, bool dryRun, const fs::path& source,
                              const fs::path& destination, const FileSystemTraits& traits) {
    RsyncInvocation invocation;
    invocation.operation = mirror ? RsyncOperation::mirror() : RsyncOperation::copy();
    invocation.dryRun = dryRun;
    invocation.source = source;
    invocation.destination = destination;
    invocation.traits = FileSystemTraits::forTransfer(traits, source, destination);
    invocation.filters = job.filters;
    invocation.leaveOutMarkers = true;
    return invocation;
}

std::optional<struct stat> statOrAbsent(SideStat& disk, std::string_view path) {
    try {
        return disk.stat(path);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

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

std::vector<SkippedFile> excludedFrom(const std::vector<SkippedFile>& skipped) {
    std::vector<SkippedFile> excluded;
    for (const SkippedFile& file : skipped)
        if (file.reason != FileSkipReason::specialFile) excluded.push_back(file);
    return excluded;
}

void checkExcludable(const std::vector<SkippedFile>& skipped) {
    for (const SkippedFile& file : skipped)
        if (!PreflightSkips::canExclude(file.path)) throw OneWayEngineError::skipTooLong(file.path);
}

void addSkips(std::vector<SkippedFile>& skipped, const std::vector<SkippedFile>& more) {
    if (more.empty()) return;
    std::unordered_set<std::string> paths;
    for (const SkippedFile& file : skipped) paths.insert(file.path);
    for (const SkippedFile& file : more)
        if (paths.insert(file.path).second) skipped.push_back(file);
}

SeenOnDisk::Start startOfLook(const fs::path& destination, std::stop_token stop) {
    try {
        return SeenOnDisk::Start::now(SeenOnDisk::stepOf(destination), std::move(stop));
    } catch (const CancellationError&) {
        throw OneWayEngineError::scanFailed(RsyncRunner::cancelledCode, {});
    }
}

}  // namespace kelto::OneWayLines
