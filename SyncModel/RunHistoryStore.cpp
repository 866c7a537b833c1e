#include "SyncModel/RunHistoryStore.h"

#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace kelto {

namespace {

bool isAbsence(int error) { return error == ENOENT || error == ENOTDIR; }

// The path with every symbolic link resolved, or nullopt when some component
// does not exist. Other failures throw.
std::optional<std::filesystem::path> realPath(const std::filesystem::path& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) {
        if (isAbsence(errno)) return std::nullopt;
        throw FileError(errno, "Could not resolve", path);
    }
    std::filesystem::path out(resolved);
    std::free(resolved);
    return out;
}

// The components of `path` below `root` (both fully resolved; none when they
// are the same folder), or nullopt when `path` lies elsewhere.
std::optional<std::filesystem::path> relativeInside(const std::filesystem::path& path,
                                                   const std::filesystem::path& root) {
    if (path == root) return std::filesystem::path();
    const std::string p = path.string();
    std::string prefix = root.string();
    if (prefix.empty() || prefix.back() != '/') prefix += '/';
    if (p.size() < prefix.size() || p.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    return std::filesystem::path(p.substr(prefix.size()));
}

void sortNewestFirst(std::vector<RunRecord>& records) {
    // Stable, so records that started at the same instant keep their order and
    // a new record goes after the stored ones it ties with.
    std::stable_sort(records.begin(), records.end(),
                     [](const RunRecord& a, const RunRecord& b) { return a.startedAt > b.startedAt; });
}

}  // namespace

std::filesystem::path RunHistoryStore::fileURL(const Uuid& jobID) const {
    return directory / (jobID.string() + ".json");
}

std::vector<RunRecord> RunHistoryStore::readLocked(const std::filesystem::path& file) const {
    const std::optional<std::string> bytes = FileIO::readIfExists(file);
    if (!bytes) return {};
    return JsonText::decode<std::vector<RunRecord>>(*bytes);
}

std::vector<RunRecord> RunHistoryStore::records(const Uuid& jobID) const {
    std::lock_guard guard(lock_);
    std::vector<RunRecord> history = readLocked(fileURL(jobID));
    sortNewestFirst(history);
    return history;
}

void RunHistoryStore::append(const RunRecord& record, std::int64_t keepingLast) {
    std::lock_guard guard(lock_);
    const std::filesystem::path file = fileURL(record.jobID);

    std::vector<RunRecord> history = readLocked(file);
    history.push_back(record);
    sortNewestFirst(history);

    const auto keep = static_cast<std::size_t>(
        std::clamp<std::int64_t>(keepingLast, 0, static_cast<std::int64_t>(history.size())));
    const std::vector<RunRecord> dropped(history.begin() + static_cast<std::ptrdiff_t>(keep), history.end());
    history.resize(keep);

    const std::string bytes = JsonText::encode(history);
    FileIO::createDirectories(directory);
    FileIO::writeAtomically(file, bytes);

    // Paths are matched in normal form C, so a kept record that spells its log
    // differently but equivalently still protects it.
    std::set<std::string> keptLogs;
    for (const RunRecord& kept : history)
        if (kept.logPath) keptLogs.insert(Unicode::nfc(*kept.logPath));
    std::set<std::string> visited;
    std::vector<std::string> doomed;
    for (const RunRecord& gone : dropped) {
        if (!gone.logPath) continue;
        const std::string key = Unicode::nfc(*gone.logPath);
        if (keptLogs.count(key) == 0 && visited.insert(key).second) doomed.push_back(*gone.logPath);
    }
    if (doomed.empty()) return;

    // Nothing can lie inside a log folder that does not exist.
    const std::optional<std::filesystem::path> logRoot = realPath(logDirectory);
    if (!logRoot) return;
    for (const std::string& logPath : doomed) removeLog(logPath, *logRoot);
}

// Removes one run log. A history file may be damaged or edited by hand, so the
// path is trusted only as far as it names a file or a symbolic link inside the
// log folder; anything else (a folder, a path elsewhere) is left alone.
void RunHistoryStore::removeLog(const std::string& logPath, const std::filesystem::path& logRoot) const {
    const std::filesystem::path path(logPath);
    const std::string name = path.filename().native();
    if (!path.is_absolute() || name.empty() || name == "." || name == "..") return;

    const std::optional<std::filesystem::path> parent = realPath(path.parent_path());
    if (!parent) return;  // already gone
    const std::optional<std::filesystem::path> below = relativeInside(*parent, logRoot);
    if (!below) return;

    // Walk down from the log folder without following links, so a folder
    // swapped for a link after the check above cannot lead the removal out.
    const std::optional<SafeFileSystem::Folder> root = SafeFileSystem::openRoot(logRoot);
    if (!root) return;
    const std::vector<std::string> folders =
        below->empty() ? std::vector<std::string>() : SafeFileSystem::split(below->native());
    const std::optional<SafeFileSystem::Folder> folder = SafeFileSystem::openPath(*root, folders);
    if (!folder) return;  // gone, or no longer a real folder

    const std::optional<struct stat> info = SafeFileSystem::statChild(*folder, name);
    // A link is removed itself, never its target.
    if (!info || (!S_ISREG(info->st_mode) && !S_ISLNK(info->st_mode))) return;
    SafeFileSystem::removeFile(*folder, name);
}

}  // namespace kelto
