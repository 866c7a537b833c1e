#include "SyncAutomation/RunMessages.h"

#include "SyncEngine/CancellationError.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace kelto {
namespace {

using namespace std::string_literals;

template <class E>
std::exception_ptr thrown(E error) {
    return std::make_exception_ptr(std::move(error));
}

// 60 lines of error output; `marked` (1-based) carries "No space left".
std::vector<std::string> longTail(int marked) {
    std::vector<std::string> lines;
    for (int i = 1; i <= 60; ++i)
        lines.push_back(i == marked ? "write failed: No space left on device (28)" : "line " + std::to_string(i));
    return lines;
}

TEST(RunMessagesTest, QuotedFormEscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(RunMessages::quoted(""), R"("")");
    EXPECT_EQ(RunMessages::quoted("Destination full"), R"("Destination full")");
    EXPECT_EQ(RunMessages::quoted(R"(say "hi", it's C:\dir)"), R"("say \"hi\", it\'s C:\\dir")");
    EXPECT_EQ(RunMessages::quoted("a\nb\rc\td\0e"s), R"("a\nb\rc\td\0e")");
    EXPECT_EQ(RunMessages::quoted("esc\x1b del\x7f one\x01 us\x1f"), R"("esc\u{1b} del\u{7f} one\u{1} us\u{1f}")")
        << "lower-case hex without leading zeros";
    EXPECT_EQ(RunMessages::quoted(" ~!{}"), R"(" ~!{}")");
    // Everything past ASCII goes through byte for byte.
    EXPECT_EQ(RunMessages::quoted("run again \u2014 caf\u00e9 \U0001F600"), "\"run again \u2014 caf\u00e9 \U0001F600\"");
}

TEST(RunMessagesTest, OutcomeDescriptionsFollowTheLogsForm) {
    const std::vector<std::pair<RunOutcome, std::string>> cases{
        {RunOutcome::completedWithErrors(), "completedWithErrors"},
        {RunOutcome::cancelled(), "cancelled"},
        {RunOutcome::interrupted(), "interrupted"},
        {RunOutcome::failed("Destination full"), R"(failed("Destination full"))"},
        {RunOutcome::failed("can't open \"x\"\n"), R"(failed("can\'t open \"x\"\n"))"},
        {RunOutcome::needsReview(std::string(RunMessages::inventoryChanged)),
         "needsReview(\"Source or deletion inventory changed \u2014 preview and run again\")"},
        {RunOutcome::skipped(SkipReason::onBattery), "skipped(SyncModel.SkipReason.onBattery)"},
        {RunOutcome::skipped(SkipReason::deviceNotConnected), "skipped(SyncModel.SkipReason.deviceNotConnected)"},
    };
    for (const auto& [outcome, description] : cases) EXPECT_EQ(RunMessages::outcomeDescription(outcome), description);
}

TEST(RunMessagesTest, ExitMapping) {
    const std::vector<std::string> none;
    const std::vector<std::string> tail{"rsync: some file vanished", "rsync error: last words (code 1)"};
    const std::vector<std::string> full{"write failed: No space left on device (28)", "rsync error: code 11"};
    // 25 is looked at before the class, whatever the tail and the flag say.
    const auto review = RunOutcome::needsReview(std::string(RunMessages::inventoryChanged));
    EXPECT_EQ(RunMessages::exitOutcome(25, none, false), review);
    EXPECT_EQ(RunMessages::exitOutcome(25, full, true), review);
    EXPECT_EQ(RunMessages::exitOutcome(0, none, false), RunOutcome::success());
    EXPECT_EQ(RunMessages::exitOutcome(0, tail, true), RunOutcome::completedWithWarnings())
        << "a clean exit that skipped files";
    EXPECT_EQ(RunMessages::exitOutcome(24, none, false), RunOutcome::completedWithWarnings());
    EXPECT_EQ(RunMessages::exitOutcome(23, tail, true), RunOutcome::completedWithErrors());
    EXPECT_EQ(RunMessages::exitOutcome(20, tail, false), RunOutcome::cancelled());
    EXPECT_EQ(RunMessages::exitOutcome(30, tail, false), RunOutcome::failed("Network timeout"));
    EXPECT_EQ(RunMessages::exitOutcome(35, none, false), RunOutcome::failed("Network timeout"));
    for (int code : {11, 12}) {
        EXPECT_EQ(RunMessages::exitOutcome(code, full, false), RunOutcome::failed("Destination full")) << code;
        EXPECT_EQ(RunMessages::exitOutcome(code, tail, false), RunOutcome::failed("rsync error: last words (code 1)"))
            << code;
        EXPECT_EQ(RunMessages::exitOutcome(code, none, false),
                  RunOutcome::failed("rsync exited with code " + std::to_string(code)));
    }
    EXPECT_EQ(RunMessages::exitOutcome(1, none, false), RunOutcome::failed("rsync exited with code 1"));
    EXPECT_EQ(RunMessages::exitOutcome(-1, none, true), RunOutcome::failed("rsync exited with code -1"));
    EXPECT_EQ(RunMessages::exitOutcome(5, tail, true), RunOutcome::failed("rsync error: last words (code 1)"));
}

TEST(RunMessagesTest, ErrorMapping) {
    // A requested stop wins over whatever error the stop caused.
    EXPECT_EQ(RunMessages::errorOutcome(thrown(OneWayEngineError::scanFailed(23, {"x"})), true),
              RunOutcome::cancelled());
    EXPECT_EQ(RunMessages::errorOutcome(thrown(FileError(EIO, "Could not read", "/x")), true),
              RunOutcome::cancelled());
    EXPECT_EQ(RunMessages::errorOutcome(thrown(CancellationError()), false), RunOutcome::cancelled());
    // Scan failures go through the exit mapping, on the last 50 lines only, and never count skipped files.
    EXPECT_EQ(RunMessages::errorOutcome(thrown(OneWayEngineError::scanFailed(12, longTail(10))), false),
              RunOutcome::failed("line 60"))
        << "the full-disk line fell out of the tail";
    EXPECT_EQ(RunMessages::errorOutcome(thrown(OneWayEngineError::scanFailed(12, longTail(11))), false),
              RunOutcome::failed("Destination full"));
    EXPECT_EQ(RunMessages::errorOutcome(thrown(TwoWayEngineError::scanFailed(11, longTail(10))), false),
              RunOutcome::failed("line 60"));
    EXPECT_EQ(RunMessages::errorOutcome(thrown(TwoWayEngineError::scanFailed(11, longTail(11))), false),
              RunOutcome::failed("Destination full"));
    EXPECT_EQ(RunMessages::errorOutcome(thrown(TwoWayEngineError::scanFailed(0, {})), false), RunOutcome::success());
    EXPECT_EQ(RunMessages::errorOutcome(thrown(OneWayEngineError::scanFailed(25, {})), false),
              RunOutcome::needsReview(std::string(RunMessages::inventoryChanged)));
    EXPECT_EQ(RunMessages::errorOutcome(thrown(TwoWayEngineError::scanFailed(20, {})), false), RunOutcome::cancelled());
    EXPECT_EQ(RunMessages::errorOutcome(thrown(OneWayEngineError::scanFailed(1, {})), false),
              RunOutcome::failed("rsync exited with code 1"));
    // Every other error: failed with its description.
    const auto missing = OneWayEngineError::endpointMissing("/Volumes/Gone");
    EXPECT_EQ(RunMessages::errorOutcome(thrown(missing), false), RunOutcome::failed(missing.what()));
    const auto readOnly = TwoWayEngineError::readOnlyEndpoint();
    EXPECT_EQ(RunMessages::errorOutcome(thrown(readOnly), false), RunOutcome::failed(readOnly.what()));
    const FileError denied(EACCES, "Could not open", "/logs/x.log");
    EXPECT_EQ(RunMessages::errorOutcome(thrown(denied), false), RunOutcome::failed(denied.what()));
    EXPECT_EQ(RunMessages::errorOutcome(thrown(42), false).kind, RunOutcome::Case::failed);
}

TEST(RunMessagesTest, PlainDescriptions) {
    EXPECT_EQ(RunMessages::plainDescription(thrown(OneWayEngineError::scanFailed(12, {"a \"b\"", "c\td"}))),
              R"(scanFailed(code: 12, stderr: ["a \"b\"", "c\td"]))");
    EXPECT_EQ(RunMessages::plainDescription(thrown(TwoWayEngineError::scanFailed(23, {}))),
              "scanFailed(code: 23, stderr: [])");
    const std::string longOne = RunMessages::plainDescription(thrown(TwoWayEngineError::scanFailed(1, longTail(0))));
    EXPECT_EQ(longOne.find("\"line 10\""), std::string::npos);
    EXPECT_NE(longOne.find("stderr: [\"line 11\", "), std::string::npos) << longOne;
    EXPECT_NE(longOne.find("\"line 60\"])"), std::string::npos) << longOne;
    const FileError denied(EACCES, "Could not open", "/logs/x.log");
    EXPECT_EQ(RunMessages::plainDescription(thrown(denied)), denied.what());
    EXPECT_EQ(RunMessages::plainDescription(thrown(CancellationError())), CancellationError().what());
    EXPECT_FALSE(RunMessages::plainDescription(thrown(42)).empty());
}

}  // namespace
}  // namespace kelto
