#include "SyncAutomation/RunLog.h"

#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace kelto {
namespace {

const Uuid jobID = *Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
const std::string jobFolder = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const Date startedAt = Date::fromUnix(1772373909.75);  // 2026-03-01 14:05:09.75 UTC
const std::string header = "Kelto Sync " + jobFolder + " manual 2026-03-01 14:05:09 +0000\n";

// Sets TZ for one test and puts the old value back.
class ZoneOverride {
public:
    explicit ZoneOverride(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneOverride() {
        if (old_) ::setenv("TZ", old_->c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

RunRecord recordWith(RunOutcome outcome, std::vector<std::string> errors = {}) {
    RunRecord record;
    record.jobID = jobID;
    record.outcome = std::move(outcome);
    record.stats.errors = std::move(errors);
    return record;
}

TEST(RunLogTest, EachRunGetsItsOwnFileInTheJobsFolder) {
    test::TemporaryFolder logs;
    // Two runs started in the same second.
    const std::string first = ArchiveRunID::make(startedAt);
    const std::string second = ArchiveRunID::make(startedAt);
    ASSERT_NE(first, second);
    auto a = RunLog::open(logs / "deeper" / "still", jobID, first);
    auto b = RunLog::open(logs / "deeper" / "still", jobID, second);
    EXPECT_NE(a->path(), b->path());
    EXPECT_EQ(test::namesIn(logs / "deeper" / "still" / jobFolder),
              (std::set<std::string>{first + ".log", second + ".log"}));
}

TEST(RunLogTest, OpeningFailsWhenTheFolderOrFileCannotBeMade) {
    test::TemporaryFolder logs;
    logs.write("occupied", "a file where the log folder would go");
    EXPECT_THROW(RunLog::open(logs / "occupied", jobID, "run"), FileError);
    std::filesystem::create_directories(logs / "taken" / jobFolder / "run.log");
    EXPECT_THROW(RunLog::open(logs / "taken", jobID, "run"), FileError) << "a folder in the file's place";
    RunRecord record = recordWith(RunOutcome::success());
    record.logPath = "stale";
    RunLog::finishRecord(nullptr, record);
    EXPECT_EQ(record.logPath, std::nullopt) << "a run without a log names none";
    EXPECT_EQ(record.outcome, RunOutcome::success());
}

TEST(RunLogTest, HeaderIsInUtcWhateverTheLocalZone) {
    const ZoneOverride zone("Pacific/Kiritimati");  // UTC+14: already 2 March there
    test::TemporaryFolder logs;
    auto log = RunLog::open(logs.path(), jobID, "run");
    log->writeHeader(jobID, RunTrigger::catchUp, startedAt);
    // Written through at once, before any footer.
    EXPECT_EQ(test::readFile(log->path()), "Kelto Sync " + jobFolder + " catchUp 2026-03-01 14:05:09 +0000\n");
}

// Writes log `name` of a manual run with `lines`, finishes `record` in it and gives the file's text.
std::string finished(const std::filesystem::path& logs, const std::string& name, RunRecord& record,
                     const std::vector<std::string>& lines = {}) {
    auto log = RunLog::open(logs, jobID, name);
    log->writeHeader(jobID, RunTrigger::manual, startedAt);
    for (const std::string& line : lines) log->sink().writeLine(line);
    RunLog::finishRecord(log.get(), record);
    return test::readFile(logs / jobFolder / (name + ".log"));
}

TEST(RunLogTest, FooterLayout) {
    test::TemporaryFolder logs;
    // A skipped run: the header and the outcome, nothing else.
    RunRecord skipped = recordWith(RunOutcome::skipped(SkipReason::deviceNotConnected));
    EXPECT_EQ(finished(logs.path(), "skipped", skipped),
              header + "Outcome: skipped(SyncModel.SkipReason.deviceNotConnected)\n");
    EXPECT_EQ(skipped.logPath, (logs / jobFolder / "skipped.log").string());
    EXPECT_EQ(skipped.outcome, RunOutcome::skipped(SkipReason::deviceNotConnected));
    // The engines' lines, then the errors, then the outcome.
    const std::vector<std::string> errors{"Could not prune archives at /b: Permission denied", "second"};
    RunRecord warned = recordWith(RunOutcome::completedWithWarnings(), errors);
    EXPECT_EQ(finished(logs.path(), "warned", warned, {">f+++++++++ a.txt"}),
              header + ">f+++++++++ a.txt\n" + errors[0] + "\n" + errors[1] + "\nOutcome: completedWithWarnings\n");
    EXPECT_EQ(std::pair(warned.stats.errors, warned.outcome), std::pair(errors, RunOutcome::completedWithWarnings()));
}

TEST(RunLogTest, FailedWritesTurnTheOutcomeIntoFailed) {
    test::TemporaryFolder logs;
    std::filesystem::create_directories(logs / jobFolder);
    std::filesystem::create_symlink("/dev/full", logs / jobFolder / "full.log");
    auto log = RunLog::open(logs.path(), jobID, "full");
    try {
        log->writeHeader(jobID, RunTrigger::manual, startedAt);
        FAIL() << "the header write should fail";
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorNumber(), ENOSPC);
    }
    RunRecord record = recordWith(RunOutcome::success(), {"earlier"});
    RunLog::finishRecord(log.get(), record);
    ASSERT_EQ(record.outcome.kind, RunOutcome::Case::failed);
    EXPECT_NE(record.outcome.message.find("No space left on device"), std::string::npos) << record.outcome.message;
    EXPECT_EQ(record.stats.errors, (std::vector<std::string>{"earlier", record.outcome.message}));
    EXPECT_EQ(record.logPath, (logs / jobFolder / "full.log").string()) << "the file exists, so the record names it";
    // The file was closed: a second footer finds nothing left to write to.
    EXPECT_THROW(log->writeFooter({}, RunOutcome::success()), FileError);
}

TEST(RunLogTest, AppendedLinesFollowTheFooterAndNeverThrow) {
    test::TemporaryFolder logs;
    auto log = RunLog::open(logs.path(), jobID, "ejected");
    log->writeHeader(jobID, RunTrigger::manual, startedAt);
    log->writeFooter({}, RunOutcome::success());
    RunLog::appendLine(log->path(), "Could not eject /media/disk: Device or resource busy");
    EXPECT_EQ(test::readFile(log->path()),
              header + "Outcome: success\nCould not eject /media/disk: Device or resource busy\n");
    RunLog::appendLine(logs / "missing.log", "x");
    EXPECT_FALSE(std::filesystem::exists(logs / "missing.log")) << "a removed log is not made again";
    RunLog::appendLine(logs.path(), "x");  // a folder
    RunLog::appendLine("/dev/full", "x");
}

}  // namespace
}  // namespace kelto
