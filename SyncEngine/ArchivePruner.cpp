#include "SyncEngine/ArchivePruner.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Json.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <date/tz.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

namespace {

// A run folder's name is dated by the clock of the run that made it, which
// may have been set back: its age counts only from what the clock can vouch
// for. Beside the job's archive folder a ledger keeps the newest clock any
// pruning saw and each folder's date as vouched for. A folder that came
// after the last pruning was made after it, so no earlier than the newest
// clock seen by then: it is dated by the later of its name's date and that
// clock, which the ledger then keeps for it. Without a ledger (the first
// pruning) the names' dates are all there is for that pruning. A clock that ran ahead once
// dates the folders after it by its time: they are kept longer, never taken
// early.
struct Ledger {
    std::optional<Date> clock;          // absent: no pruning has vouched for anything yet
    std::map<std::string, Date> dated;  // run folder name → date vouched for
};

std::string ledgerName(const Uuid& jobID) { return jobID.string() + ".dates"; }

// The ledger, or an empty one. One that cannot be read as a ledger vouches
// for nothing: its folders date from now, kept a full retention once more.
Ledger readLedger(const Folder& archive, const Uuid& jobID, Date now) {
    const std::string name = ledgerName(jobID);
    // Not blocking: a pipe planted under its name would hold the run for good.
    FileDescriptor file(::openat(archive.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file.valid()) {
        if (errno == ENOENT) return {};
        if (errno != ELOOP) throw FileError(errno, "Could not open", archive / name);
        return Ledger{now, {}};
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throw FileError(errno, "Could not read", archive / name);
    if (!S_ISREG(info.st_mode)) return Ledger{now, {}};
    const std::string bytes = FileIO::readAll(file.get(), archive / name);
    try {
        const Json document = JsonText::parse(bytes);
        Ledger ledger{Date::fromUnix(document.at("clock").get<double>()), {}};
        for (const auto& [folder, date] : document.at("folders").items())
            ledger.dated.emplace(folder, Date::fromUnix(date.get<double>()));
        return ledger;
    } catch (const std::exception&) {
        return Ledger{now, {}};
    }
}

void writeLedger(const Folder& archive, const Uuid& jobID, const Ledger& ledger) {
    Json folders = Json::object();
    for (const auto& [name, date] : ledger.dated) folders[name] = date.unix();
    const Json document{{"clock", ledger.clock->unix()}, {"folders", std::move(folders)}};
    try {
        FileIO::writeAtomicallyAt(archive.get(), ledgerName(jobID), document.dump(), archive / ledgerName(jobID));
    } catch (const FileError& error) {
        // A disk no run can write to gains no archive that would need dating.
        if (error.errorNumber() != EROFS) throw;
    }
}

}  // namespace

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
    const std::optional<Folder> archiveFolder =
        rootFolder ? SafeFileSystem::openPath(*rootFolder, {std::string(ArchiveDirectories::reservedName),
                                                            std::string(ArchiveDirectories::archiveName)})
                   : std::nullopt;
    const std::optional<Folder> jobFolder =
        archiveFolder ? SafeFileSystem::openChild(*archiveFolder, jobID.string()) : std::nullopt;
    if (!jobFolder) return 0;  // removed meanwhile

    const Ledger ledger = readLedger(*archiveFolder, jobID, now);
    struct RunFolder {
        std::string name;
        Date date;          // as the clock vouches for it
        Date named;         // by its name
        bool known;         // dated by the ledger
    };
    std::vector<RunFolder> runFolders;
    for (std::string& name : SafeFileSystem::listNames(*jobFolder)) {
        const std::optional<Date> named = ArchiveRunID::date(name, localZone);
        if (!named) continue;
        const std::optional<struct stat> info = SafeFileSystem::statChild(*jobFolder, name);
        if (!info || !S_ISDIR(info->st_mode)) continue;  // gone meanwhile, by another clean-up, or not a run folder
        // No pruning dates a folder before its name: a ledger that does was
        // not written by one, and vouches for no less than the name.
        const auto known = ledger.dated.find(name);
        const Date date = known != ledger.dated.end() ? std::max(known->second, *named)
                          : ledger.clock              ? std::max(*named, *ledger.clock)
                                                      : *named;
        runFolders.push_back({std::move(name), date, *named, known != ledger.dated.end()});
    }

    // Retention counts back from the clock or from the newest archive,
    // whichever is earlier: a clock that runs ahead would otherwise take every
    // archive for old. The pruning run's own folder is dated by that same
    // clock, so it is no evidence. Zero days is the user's clean: everything
    // dated before now goes.
    Date from = now;
    if (*retentionDays > 0) {
        std::optional<Date> newest;
        for (const RunFolder& run : runFolders)
            if (run.name != ownRun && (!newest || *newest < run.date)) newest = run.date;
        if (newest && *newest < now) from = *newest;
    }
    const std::optional<Date> limit = cutOff(from, *retentionDays, localZone);
    if (!limit) return 0;

    // Every run folder's name is a clock some run saw: the newest of them is
    // vouched for as well as `now`. A folder the ledger did not date yet is
    // kept in it as no older than that (one made while the clock was behind,
    // at a first pruning, is told from an old one no other way). The user's
    // clean goes by the names: what the ledger vouches for only ever holds
    // retention back.
    Ledger kept{ledger.clock ? std::max(*ledger.clock, now) : now, {}};
    for (const RunFolder& run : runFolders) *kept.clock = std::max(*kept.clock, run.named);
    std::int64_t removed = 0;
    for (const RunFolder& run : runFolders) {
        if (!((*retentionDays == 0 ? run.named : run.date) < *limit)) {
            kept.dated.emplace(run.name, run.known ? run.date : std::max(run.date, *kept.clock));
            continue;
        }
        SafeFileSystem::removeTree(*jobFolder, run.name);
        ++removed;
    }
    writeLedger(*archiveFolder, jobID, kept);
    return removed;
}

}  // namespace kelto
