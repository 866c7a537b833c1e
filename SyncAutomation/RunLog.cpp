#include "SyncAutomation/RunLog.h"

#include "SyncAutomation/RunMessages.h"
#include "SyncModel/Support/FileIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>

namespace kelto {

namespace {

std::string utcTimestamp(Date date) {
    const auto seconds = static_cast<std::time_t>(std::floor(date.unix()));
    std::tm parts{};
    char text[64] = "";
    if (::gmtime_r(&seconds, &parts) != nullptr) std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S +0000", &parts);
    return text;
}

}  // namespace

std::filesystem::path RunLog::fileFor(const std::filesystem::path& logDirectory, const Uuid& jobID,
                                      std::string_view runID) {
    return logDirectory / jobID.string() / (std::string(runID) + ".log");
}

std::unique_ptr<RunLog> RunLog::open(const std::filesystem::path& logDirectory, const Uuid& jobID,
                                     std::string_view runID) {
    std::filesystem::path file = fileFor(logDirectory, jobID, runID);
    FileIO::createDirectories(file.parent_path());
    return std::unique_ptr<RunLog>(new RunLog(std::move(file)));
}

void RunLog::writeHeader(const Uuid& jobID, RunTrigger trigger, Date startedAt) {
    file_.writeLine("Kelto Sync " + jobID.string() + " " + std::string(enumName(trigger)) + " " +
                    utcTimestamp(startedAt));
    file_.flush();
}

void RunLog::writeFooter(const std::vector<std::string>& errors, const RunOutcome& outcome) {
    try {
        for (const std::string& error : errors) file_.writeLine(error);
        file_.writeLine("Outcome: " + RunMessages::outcomeDescription(outcome));
        file_.sync();
        file_.close();
    } catch (...) {
        try {
            file_.close();
        } catch (...) {
            // The first failure is the one to report.
        }
        throw;
    }
}

void RunLog::finishRecord(RunLog* log, RunRecord& record) {
    if (log == nullptr) {
        record.logPath.reset();
        return;
    }
    record.logPath = log->path().string();
    try {
        log->writeFooter(record.stats.errors, record.outcome);
    } catch (const std::exception& e) {
        record.outcome = RunOutcome::failed(e.what());
        record.stats.errors.emplace_back(e.what());
    }
}

void RunLog::appendLine(const std::filesystem::path& file, std::string_view line) noexcept {
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return;
    try {
        const std::string text = std::string(line) + "\n";
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            written += static_cast<std::size_t>(n);
        }
    } catch (...) {
        // Out of memory for one line: dropped like any other failure.
    }
    ::close(fd);
}

}  // namespace kelto
