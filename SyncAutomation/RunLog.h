#pragma once

#include "SyncEngine/FileRunLog.h"
#include "SyncModel/RunOutcome.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Uuid.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// The log file of one run: the header, the engines' lines through sink(),
// then the footer. Only the coordinator writes it, and never reads it.
class RunLog {
public:
    // logDirectory / job UUID (upper case) / runID ".log".
    static std::filesystem::path fileFor(const std::filesystem::path& logDirectory, const Uuid& jobID,
                                         std::string_view runID);

    // Creates the job's folder and the file (or opens an existing one at its
    // end). Throws FileError: the run then has no log at all.
    static std::unique_ptr<RunLog> open(const std::filesystem::path& logDirectory, const Uuid& jobID,
                                        std::string_view runID);

    // "Kelto Sync <UUID> <trigger> <yyyy-MM-dd HH:mm:ss +0000>", start in UTC.
    // Written through at once, so a failure shows here and a run that never
    // finishes still leaves its header. Throws FileError; the log stays open
    // for the footer.
    void writeHeader(const Uuid& jobID, RunTrigger trigger, Date startedAt);

    // Where the engines write their lines.
    RunLogSink& sink() { return file_; }

    // The error lines (when any) and "Outcome: " with the outcome's
    // description, then flushed to disk and closed. Throws the first failure,
    // after closing the file all the same.
    void writeFooter(const std::vector<std::string>& errors, const RunOutcome& outcome);

    // Names the log in the record and writes the footer from it. A footer
    // that fails turns the outcome into failed with the error's text and
    // adds the same text to the errors; the file keeps the earlier outcome.
    // A run without a log (nullptr) gets no logPath.
    static void finishRecord(RunLog* log, RunRecord& record);

    // Opens the existing file at its end, writes the line and a line feed and
    // closes it. Failures are dropped: such a line never changes a run.
    static void appendLine(const std::filesystem::path& file, std::string_view line) noexcept;

    const std::filesystem::path& path() const { return file_.path(); }

private:
    explicit RunLog(std::filesystem::path file) : file_(std::move(file)) {}

    FileRunLog file_;
};

}  // namespace kelto
