#include "SyncEngine/ArchivePruner.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <date/tz.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

std::optional<Date> ArchivePruner::cutOff(Date now, std::int64_t days, const ::date::time_zone& zone) {
    using namespace std::chrono;
    if (days == 0) return now;
    // Well past any archive's age; beyond it the calendar arithmetic overflows.
    constexpr std::int64_t limit = 3'000'000;
    const double unix = now.unix();
    if (days > limit || days < -limit || !std::isfinite(unix) || std::fabs(unix) > 1e14) return std::nullopt;

    const double whole = std::floor(unix);
    const ::date::sys_seconds instant{seconds{static_cast<std::int64_t>(whole)}};
    const ::date::local_seconds local = zone.to_local(instant);
    const ::date::local_seconds shifted = local - ::date::days{days};

    const ::date::local_info info = zone.get_info(shifted);
    seconds offset = info.first.offset;
    // A wall time that occurs twice keeps the offset `now` has, when it can; a
    // wall time skipped by a change moves forward by the gap, as clocks do.
    if (info.result == ::date::local_info::ambiguous && info.second.offset == zone.get_info(instant).offset)
        offset = info.second.offset;
    const ::date::sys_seconds result{shifted.time_since_epoch() - offset};
    return Date::fromUnix(static_cast<double>(result.time_since_epoch().count()) + (unix - whole));
}

std::int64_t ArchivePruner::prune(const fs::path& root, const Uuid& jobID, std::optional<std::int64_t> retentionDays,
                                  Date now, const ::date::time_zone* zone, std::string_view ownRun) {
    if (!retentionDays) return 0;
    const ::date::time_zone& localZone = ArchiveRunID::zoneOrCurrent(zone);
    if (!cutOff(now, *retentionDays, localZone)) return 0;
    if (!ArchiveDirectories::treeExists(root, jobID)) return 0;

    const std::optional<Folder> rootFolder = SafeFileSystem::openRoot(root);
    const std::optional<Folder> jobFolder =
        rootFolder ? SafeFileSystem::openPath(*rootFolder, {std::string(ArchiveDirectories::reservedName),
                                                            std::string(ArchiveDirectories::archiveName),
                                                            jobID.string()})
                   : std::nullopt;
    if (!jobFolder) return 0;  // removed meanwhile

    std::vector<std::pair<std::string, Date>> runFolders;
    for (std::string& name : SafeFileSystem::listNames(*jobFolder)) {
        const std::optional<Date> date = ArchiveRunID::date(name, localZone);
        if (!date) continue;
        const std::optional<struct stat> info = SafeFileSystem::statChild(*jobFolder, name);
        if (!info || !S_ISDIR(info->st_mode)) continue;  // gone meanwhile, by another clean-up, or not a run folder
        runFolders.emplace_back(std::move(name), *date);
    }

    // Retention counts back from the clock or from the newest archive,
    // whichever is earlier: a clock that runs ahead would otherwise take every
    // archive for old. The pruning run's own folder is dated by that same
    // clock, so it is no evidence. Zero days is the user's clean: everything
    // dated before now goes.
    Date from = now;
    if (*retentionDays > 0) {
        std::optional<Date> newest;
        for (const auto& [name, date] : runFolders)
            if (name != ownRun && (!newest || *newest < date)) newest = date;
        if (newest && *newest < now) from = *newest;
    }
    const std::optional<Date> limit = cutOff(from, *retentionDays, localZone);
    if (!limit) return 0;

    std::int64_t removed = 0;
    for (const auto& [name, date] : runFolders) {
        if (!(date < *limit)) continue;
        SafeFileSystem::removeTree(*jobFolder, name);
        ++removed;
    }
    return removed;
}

}  // namespace kelto
