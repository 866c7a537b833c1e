#include "SyncAutomation/AppModel.h"

#include "SyncAutomation/JobLock.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/TreeOverlap.h"
#include "SyncModel/JobValidator.h"
#include "SyncModel/Support/FileIO.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// The path with the links along it resolved as far as it exists.
std::optional<std::string> resolvingLinks(const std::string& path) {
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::path(path), error);
    if (error || resolved.empty()) return std::nullopt;
    return resolved.string();
}

}  // namespace

void AppModel::validate(const SyncJob& job, std::function<void(ValidationReport)> done) {
    // The validator may walk the whole source folder: never on the main executor.
    background_->post([job, done = std::move(done), &main = main_, alive = std::weak_ptr<const bool>(alive_)] {
        ValidationReport report = JobValidator::validate(job, resolvingLinks);
        main.post([alive, done, report = std::move(report)] {
            if (!alive.expired() && done) done(report);
        });
    });
}

void AppModel::makeJob(const fs::path& source, const fs::path& destination,
                       std::function<void(Result<SyncJob>)> done) {
    // Reading the volumes may block on a slow disk: never on the main executor.
    background_->post([source, destination, done = std::move(done), &main = main_,
                       alive = std::weak_ptr<const bool>(alive_)] {
        auto made = Result<SyncJob>::capture([&] {
            SyncJob job = SyncJob::newJob(source.filename().string() + " \u2192 " + destination.filename().string());
            job.source = VolumeInspector::endpoint(source);
            job.destination = VolumeInspector::endpoint(destination);
            return job;
        });
        main.post([alive, done, made = std::move(made)] {
            if (!alive.expired() && done) done(made);
        });
    });
}

void AppModel::validated(const SyncJob& job, std::function<void(Result<void>)> next) {
    validate(job, [next = std::move(next)](ValidationReport report) {
        // Warnings alone do not stop a job.
        if (report.hasErrors())
            next(Result<void>(std::make_exception_ptr(AppModelError::invalidJob(std::move(report)))));
        else
            next(Result<void>());
    });
}

void AppModel::addJob(const SyncJob& job, std::function<void(Result<void>)> done) {
    validated(job, [this, job, done = std::move(done)](Result<void> valid) {
        if (!valid.hasValue()) {
            if (done) done(valid);
            return;
        }
        Edit edit = [job](std::vector<SyncJob>& jobs) {
            if (std::any_of(jobs.begin(), jobs.end(), [&](const SyncJob& stored) { return stored.id == job.id; }))
                throw AppModelError::jobBusy();
            jobs.push_back(job);
            return false;
        };
        commit(job.id, std::move(edit), [done](Result<void> result, bool) {
            if (done) done(std::move(result));
        });
    });
}

void AppModel::updateJob(const SyncJob& job, std::function<void(Result<void>)> done) {
    validated(job, [this, job, done = std::move(done)](Result<void> valid) {
        if (!valid.hasValue()) {
            if (done) done(valid);
            return;
        }
        Edit edit = [job](std::vector<SyncJob>& jobs) {
            const auto stored = std::find_if(jobs.begin(), jobs.end(),
                                             [&](const SyncJob& candidate) { return candidate.id == job.id; });
            if (stored == jobs.end()) throw AppModelError::jobNotFound();
            // Another folder on either side makes the baseline describe the wrong folders.
            const bool sameFolders = stored->source == job.source && stored->destination == job.destination;
            *stored = job;
            return !sameFolders;
        };
        commit(job.id, std::move(edit), [done](Result<void> result, bool) {
            if (done) done(std::move(result));
        });
    });
}

void AppModel::deleteJob(const Uuid& jobID, std::function<void(Result<void>)> done) {
    Edit edit = [jobID](std::vector<SyncJob>& jobs) {
        // A job not in the file is no error: the file is written again as it was.
        std::erase_if(jobs, [&](const SyncJob& job) { return job.id == jobID; });
        return true;
    };
    commit(jobID, std::move(edit), [this, jobID, done = std::move(done)](Result<void> result, bool saved) {
        // Once the file no longer lists the job, its last record goes too.
        if (saved) lastRecords_.modify([&](RecordMap& records) { records.erase(jobID); });
        if (done) done(std::move(result));
    });
}

void AppModel::commit(const Uuid& jobID, Edit edit, Committed done) {
    // Written on the runner's queue before the answer is posted, read after.
    auto saved = std::make_shared<bool>(false);
    auto change = [&store = store_, log = log_, jobID, edit = std::move(edit), saved] {
        // A run of the job in another process read the list before this
        // change, and would write a baseline for its old folders after the
        // one here was removed.
        const std::optional<JobLock> lock = JobLock::tryTake(JobLock::fileFor(store.directory(), jobID));
        if (!lock) throw JobRunnerError(JobRunnerError::Code::jobBusy);
        bool dropBaseline = false;
        bool listed = true;
        std::vector<std::string> aside;
        std::optional<SyncJob> before;
        try {
            store.modify([&](std::vector<SyncJob>& jobs) {
                const auto stored =
                    std::find_if(jobs.begin(), jobs.end(), [&](const SyncJob& job) { return job.id == jobID; });
                if (stored != jobs.end()) before = *stored;
                dropBaseline = edit(jobs);
                listed = std::any_of(jobs.begin(), jobs.end(), [&](const SyncJob& job) { return job.id == jobID; });
                // The baseline steps aside before the save and goes only
                // after it: had the save failed, the folders still in the
                // file would have lost their baseline (the next two-way run
                // would bring deleted files back); had it stayed until a
                // removal that then failed, the new folders would be planned
                // against the old folders' baseline.
                if (dropBaseline) aside = setBaselineAside(jobID, store.directory());
            });
        } catch (...) {
            putBaselineBack(jobID, store.directory(), aside);
            throw;
        }
        *saved = true;
        // The change stands once the file says so: what it leaves behind is
        // removed as far as it can be, and what stays is logged, never
        // reported as a failed change.
        const Log leftover = [&](const std::string& failure) {
            log("left behind by a change of job " + jobID.string() + ": " + failure);
        };
        if (dropBaseline) deleteBaseline(jobID, store.directory(), leftover);
        // A folder the job no longer names is walked by it no more: a marker
        // a walk of it killed part-way left there would stay for good.
        if (before && (dropBaseline || !listed)) {
            for (const Endpoint* side : {&before->source, &before->destination}) {
                try {
                    TreeOverlap::clearLeftMarkers(side->path);
                } catch (const FileError& failure) {
                    leftover(failure.what());
                }
            }
        }
        // A job the file no longer lists leaves no lock file behind. Held
        // here, it guards no run elsewhere.
        if (!listed) {
            try {
                lock->removeFile();
            } catch (const FileError& failure) {
                leftover(failure.what());
            }
            // Nor its folder of lists; a link there goes, never what it leads to.
            const fs::path lists = SyncCoordinator::listFolderFor(store.directory(), jobID);
            std::error_code error;
            fs::remove_all(lists, error);
            if (error) leftover(FileError(error.value(), "Could not remove", lists).what());
        }
    };
    auto answered = [this, alive = std::weak_ptr<const bool>(alive_), saved,
                     done = std::move(done)](Result<void> result) {
        if (alive.expired()) return;
        result = busyAsModelError(std::move(result));
        // A written file is read back: it is the truth now.
        if (*saved) {
            try {
                jobs_.setIfChanged(store_.load());
                scheduler_.jobsChanged();
            } catch (...) {
                if (result.hasValue()) result = Result<void>(std::current_exception());
            }
        }
        done(std::move(result), *saved);
    };
    runner_.performIfIdle(jobID, std::move(change), std::move(answered));
}

namespace {

constexpr std::array<const char*, 3> baselineSuffixes{".sqlite", ".sqlite-wal", ".sqlite-shm"};
constexpr const char* asideSuffix = ".replaced";

fs::path baselineFile(const Uuid& jobID, const fs::path& folder, const char* suffix, bool aside) {
    return folder / "state" / (jobID.string() + suffix + (aside ? asideSuffix : ""));
}

}  // namespace

std::vector<std::string> AppModel::setBaselineAside(const Uuid& jobID, const fs::path& folder) {
    std::vector<std::string> moved;
    for (const char* suffix : baselineSuffixes) {
        const fs::path file = baselineFile(jobID, folder, suffix, false);
        // rename moves a link in the file's place, never what it points to.
        if (::rename(file.c_str(), baselineFile(jobID, folder, suffix, true).c_str()) == 0) {
            moved.push_back(suffix);
        } else if (errno != ENOENT && errno != ENOTDIR) {
            const int error = errno;
            putBaselineBack(jobID, folder, moved);
            throw FileError(error, "Could not move aside", file);
        }
    }
    return moved;
}

// Only what this change moved: an older leftover aside is no baseline of
// these folders.
void AppModel::putBaselineBack(const Uuid& jobID, const fs::path& folder,
                               const std::vector<std::string>& moved) noexcept {
    for (const std::string& suffix : moved)
        ::rename(baselineFile(jobID, folder, suffix.c_str(), true).c_str(),
                 baselineFile(jobID, folder, suffix.c_str(), false).c_str());
}

void AppModel::deleteBaseline(const Uuid& jobID, const fs::path& folder, const Log& log) {
    for (const char* suffix : baselineSuffixes) {
        const fs::path file = baselineFile(jobID, folder, suffix, true);
        // unlink: a link in the file's place goes, never what it points to.
        if (::unlink(file.c_str()) != 0 && errno != ENOENT && errno != ENOTDIR)
            log(FileError(errno, "Could not remove", file).what());
    }
}

}  // namespace kelto
