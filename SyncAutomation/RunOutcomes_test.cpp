#include "SyncAutomation/RunControl.h"
#include "SyncAutomation/RunLog.h"
#include "SyncAutomation/RunMessages.h"

#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <tuple>

namespace kelto {
namespace {

// Steps: C store the cancellation, c cancel, R roots on /media/Disk, B roots on /media/Backup (a name that
// merely starts like another volume's), u unmount /media/Disk, b unmount /media/Back, o unmount /media/Other,
// m commit, f finish. Each step but m gives 1 when it hands back a cancellation (called, as the caller must),
// answers true or finishes with an outcome, else 0. Then come the cancellations called and what finishing gives.
TEST(RunControl, CancelsUnmountsCommitsAndFinishesInEachOrder) {
    const std::vector<std::tuple<std::string, std::string, int, std::optional<RunOutcome>>> cases{
        {"cC", "01", 0, RunOutcome::cancelled()},     // a cancel before the work exists is reported when it is stored
        {"Cc", "01", 1, RunOutcome::cancelled()},
        {"CuR", "001", 1, RunOutcome::interrupted()},  // a volume reported before the roots interrupts once known
        {"CbBo", "0000", 0, std::nullopt},             // an unrelated volume is only remembered
        {"CRcu", "0011", 2, RunOutcome::interrupted()},  // an unmount outranks a cancel
        {"CRcmuc", "00100", 1, std::nullopt},          // after a commit neither changes the outcome
        {"CRfcuCc", "0000000", 0, std::nullopt},       // nothing changes once finished
    };
    for (const auto& [steps, expectedAnswers, expectedCalls, outcome] : cases) {
        SCOPED_TRACE(steps);
        RunControl control;
        int calls = 0;
        std::string answers;
        const auto call = [&](const RunControl::Cancellation& cancellation) {
            if (cancellation) cancellation();
            answers += cancellation ? '1' : '0';
        };
        for (const char step : steps) {
            switch (step) {
            case 'C': answers += control.setCancellation([&] { ++calls; }) ? '1' : '0'; break;
            case 'c': call(control.cancel()); break;
            case 'R': call(control.setRoots({"/home/me/Photos", "/media/Disk/./Backup"})); break;
            case 'B': call(control.setRoots({"/home/me/Photos", "/media/Backup/Photos"})); break;
            case 'u': call(control.volumeWillUnmount("/media/Disk/")); break;
            case 'b': call(control.volumeWillUnmount("/media/Back")); break;
            case 'o': call(control.volumeWillUnmount("/media/Other")); break;
            case 'm': control.commit(); break;
            case 'f': answers += control.finish() ? '1' : '0'; break;
            }
        }
        EXPECT_EQ(answers, expectedAnswers);
        EXPECT_EQ(calls, expectedCalls);
        EXPECT_EQ(control.finish(), outcome);
    }
}

using namespace std::string_literals;

template <class E>
std::exception_ptr thrown(E error) { return std::make_exception_ptr(std::move(error)); }

// 60 lines of error output; `marked` (1-based) carries "No space left".
std::vector<std::string> longTail(int marked) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 60; ++i)
        lines.push_back(i == marked ? "write failed: No space left on device (28)" : "line " + std::to_string(i));
    return lines;
}

TEST(RunMessagesTest, QuotedFormOutcomeDescriptionsExitErrorMappingAndPlainDescriptions) {
    EXPECT_EQ(RunMessages::quoted(""), R"("")");
    EXPECT_EQ(RunMessages::quoted(R"(say "hi", it's C:\dir)"), R"("say \"hi\", it\'s C:\\dir")");
    EXPECT_EQ(RunMessages::quoted("a\nb\rc\td\0e"s), R"("a\nb\rc\td\0e")");
    EXPECT_EQ(RunMessages::quoted("esc\x1b del\x7f one\x01 us\x1f"), R"("esc\u{1b} del\u{7f} one\u{1} us\u{1f}")")
        << "lower-case hex without leading zeros";
    EXPECT_EQ(RunMessages::quoted(" ~!{}"), R"(" ~!{}")");
    EXPECT_EQ(RunMessages::quoted("run again \u2014 caf\u00e9 \U0001F600"), "\"run again \u2014 caf\u00e9 \U0001F600\"");
    // Outcomes without a payload are the log test's.
    EXPECT_EQ(RunMessages::outcomeDescription(RunOutcome::failed("can't open \"x\"\n")),
              R"(failed("can\'t open \"x\"\n"))");
    EXPECT_EQ(RunMessages::outcomeDescription(RunOutcome::needsReview("Review")), R"(needsReview("Review"))");
    const std::vector<std::string> none;
    const std::vector<std::string> tail{"rsync: some file vanished", "rsync error: last words (code 1)"};
    const std::vector<std::string> full{"write failed: No space left on device (28)", "rsync error: code 11"};
    const auto review = RunOutcome::needsReview(std::string(RunMessages::inventoryChanged));
    const auto failed = [](std::string why) { return RunOutcome::failed(std::move(why)); };
    const auto lastWords = failed("rsync error: last words (code 1)"), timeout = failed("Network timeout");
    // Code, tail, whether files were skipped, outcome. 25 is looked at before the class, whatever the rest says.
    const std::vector<std::tuple<int, const std::vector<std::string>*, bool, RunOutcome>> exits{
        {25, &none, false, review}, {25, &full, true, review}, {0, &none, false, RunOutcome::success()},
        {0, &tail, true, RunOutcome::completedWithWarnings()}, {24, &none, false, RunOutcome::completedWithWarnings()},
        {23, &tail, true, RunOutcome::completedWithErrors()}, {20, &tail, false, RunOutcome::cancelled()},
        {30, &tail, false, timeout}, {35, &none, false, timeout}, {11, &full, false, failed("Destination full")},
        {12, &full, false, failed("Destination full")}, {11, &tail, false, lastWords}, {12, &tail, false, lastWords},
        {11, &none, false, failed("rsync exited with code 11")}, {5, &tail, true, lastWords},
        {12, &none, false, failed("rsync exited with code 12")}, {1, &none, false, failed("rsync exited with code 1")},
        {-1, &none, true, failed("rsync exited with code -1")}};
    for (const auto& [code, lines, skipped, outcome] : exits)
        EXPECT_EQ(RunMessages::exitOutcome(code, *lines, skipped), outcome) << code << " " << lines->size() << skipped;
    const auto outcomeOf = [](auto error, bool stopped = false) {
        return RunMessages::errorOutcome(thrown(std::move(error)), stopped);
    };
    // A requested stop wins over the error it caused.
    EXPECT_EQ(outcomeOf(OneWayEngineError::scanFailed(23, {"x"}), true), RunOutcome::cancelled());
    EXPECT_EQ(outcomeOf(FileError(EIO, "Could not read", "/x"), true), RunOutcome::cancelled());
    EXPECT_EQ(outcomeOf(CancellationError()), RunOutcome::cancelled());
    // Scan failures go through the exit mapping, on the last 50 lines only, and never count skipped files.
    EXPECT_EQ(outcomeOf(OneWayEngineError::scanFailed(12, longTail(10))), failed("line 60")) << "full-disk line gone";
    EXPECT_EQ(outcomeOf(OneWayEngineError::scanFailed(12, longTail(11))), failed("Destination full"));
    EXPECT_EQ(outcomeOf(TwoWayEngineError::scanFailed(11, longTail(10))), failed("line 60"));
    EXPECT_EQ(outcomeOf(TwoWayEngineError::scanFailed(11, longTail(11))), failed("Destination full"));
    EXPECT_EQ(outcomeOf(TwoWayEngineError::scanFailed(0, {})), RunOutcome::success());
    const auto failsWithItsText = [&](const auto& error) { EXPECT_EQ(outcomeOf(error), failed(error.what())); };
    failsWithItsText(OneWayEngineError::endpointMissing("/Volumes/Gone"));
    failsWithItsText(TwoWayEngineError::readOnlyEndpoint());
    const FileError denied(EACCES, "Could not open", "/logs/x.log");
    failsWithItsText(denied);
    EXPECT_EQ(outcomeOf(42).kind, RunOutcome::Case::failed);
    EXPECT_EQ(RunMessages::plainDescription(thrown(OneWayEngineError::scanFailed(12, {"a \"b\"", "c\td"}))),
              R"(scanFailed(code: 12, stderr: ["a \"b\"", "c\td"]))");
    const std::string longOne = RunMessages::plainDescription(thrown(TwoWayEngineError::scanFailed(1, longTail(0))));
    EXPECT_EQ(longOne.find("\"line 10\""), std::string::npos);
    EXPECT_NE(longOne.find("stderr: [\"line 11\", "), std::string::npos) << longOne;
    EXPECT_NE(longOne.find("\"line 60\"])"), std::string::npos) << longOne;
    EXPECT_EQ(RunMessages::plainDescription(thrown(denied)), denied.what());
    EXPECT_EQ(RunMessages::plainDescription(thrown(CancellationError())), CancellationError().what());
    EXPECT_FALSE(RunMessages::plainDescription(thrown(42)).empty());
}

const Uuid jobID = *Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
const std::string jobFolder = "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D";
const Date startedAt = Date::fromUnix(1772373909.75);  // 2026-03-01 14:05:09.75 UTC
const std::string header = "Kelto Sync " + jobFolder + " manual 2026-03-01 14:05:09 +0000\n";

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

// Writes log `name` of a manual run with `lines`, finishes `record` in it and gives the file's text.
std::string finished(const std::filesystem::path& logs, const std::string& name, RunRecord& record,
                     const std::vector<std::string>& lines = {}) {
    auto log = RunLog::open(logs, jobID, name);
    log->writeHeader(jobID, RunTrigger::manual, startedAt);
    for (const std::string& line : lines) log->sink().writeLine(line);
    RunLog::finishRecord(log.get(), record);
    return test::readFile(logs / jobFolder / (name + ".log"));
}

TEST(RunLogTest, EachRunGetsItsOwnFileWithItsHeaderInUtcAndItsFooterOrOpeningFailsAndAFailedWriteFailsTheRun) {
    test::TemporaryFolder logs;
    const std::string first = ArchiveRunID::make(startedAt);
    const std::string second = ArchiveRunID::make(startedAt);
    ASSERT_NE(first, second);
    auto a = RunLog::open(logs / "deeper" / "still", jobID, first);
    auto b = RunLog::open(logs / "deeper" / "still", jobID, second);
    EXPECT_EQ(test::namesIn(logs / "deeper" / "still" / jobFolder),
              (std::set<std::string>{first + ".log", second + ".log"}));
    logs.write("occupied", "a file where the log folder would go");
    EXPECT_THROW(RunLog::open(logs / "occupied", jobID, "run"), FileError);
    std::filesystem::create_directories(logs / "taken" / jobFolder / "run.log");
    EXPECT_THROW(RunLog::open(logs / "taken", jobID, "run"), FileError) << "a folder in the file's place";
    RunRecord record = recordWith(RunOutcome::success());
    record.logPath = "stale";
    RunLog::finishRecord(nullptr, record);
    EXPECT_EQ(record.logPath, std::nullopt) << "a run without a log names none";
    EXPECT_EQ(record.outcome, RunOutcome::success());
    {
        const ZoneOverride zone("Pacific/Kiritimati");  // UTC+14: already 2 March there
        auto log = RunLog::open(logs.path(), jobID, "run");
        log->writeHeader(jobID, RunTrigger::catchUp, startedAt);
        // Written through before any footer.
        EXPECT_EQ(test::readFile(log->path()), "Kelto Sync " + jobFolder + " catchUp 2026-03-01 14:05:09 +0000\n");
    }
    RunRecord skipped = recordWith(RunOutcome::skipped(SkipReason::deviceNotConnected));
    EXPECT_EQ(finished(logs.path(), "skipped", skipped),
              header + "Outcome: skipped(SyncModel.SkipReason.deviceNotConnected)\n");
    EXPECT_EQ(skipped.logPath, (logs / jobFolder / "skipped.log").string());
    EXPECT_EQ(skipped.outcome, RunOutcome::skipped(SkipReason::deviceNotConnected));
    const std::vector<std::string> errors{"Could not prune archives at /b: Permission denied", "second"};
    RunRecord warned = recordWith(RunOutcome::completedWithWarnings(), errors);
    EXPECT_EQ(finished(logs.path(), "warned", warned, {">f+++++++++ a.txt"}),
              header + ">f+++++++++ a.txt\n" + errors[0] + "\n" + errors[1] + "\nOutcome: completedWithWarnings\n");
    EXPECT_EQ(std::pair(warned.stats.errors, warned.outcome), std::pair(errors, RunOutcome::completedWithWarnings()));
    // Failed writes turn the outcome into failed; appended lines never throw.
    std::filesystem::create_directories(logs / jobFolder);
    std::filesystem::create_symlink("/dev/full", logs / jobFolder / "full.log");
    auto log = RunLog::open(logs.path(), jobID, "full");
    try {
        log->writeHeader(jobID, RunTrigger::manual, startedAt);
        FAIL() << "the header write should fail";
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorNumber(), ENOSPC);
    }
    record = recordWith(RunOutcome::success(), {"earlier"});
    RunLog::finishRecord(log.get(), record);
    ASSERT_EQ(record.outcome.kind, RunOutcome::Case::failed);
    EXPECT_NE(record.outcome.message.find("No space left on device"), std::string::npos) << record.outcome.message;
    EXPECT_EQ(record.stats.errors, (std::vector<std::string>{"earlier", record.outcome.message}));
    EXPECT_EQ(record.logPath, (logs / jobFolder / "full.log").string()) << "the file exists, so the record names it";
    EXPECT_THROW(log->writeFooter({}, RunOutcome::success()), FileError);
    for (const std::filesystem::path& at : {logs / "missing.log", logs.path(), std::filesystem::path("/dev/full")})
        RunLog::appendLine(at, "x");
    EXPECT_FALSE(std::filesystem::exists(logs / "missing.log"));
    const std::string ended = finished(logs.path(), "ejected", record);
    RunLog::appendLine(logs / jobFolder / "ejected.log", "Could not eject /media/disk: Device or resource busy");
    EXPECT_EQ(test::readFile(logs / jobFolder / "ejected.log"),
              ended + "Could not eject /media/disk: Device or resource busy\n");
}

}  // namespace
}  // namespace kelto
