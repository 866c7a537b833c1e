#include "SyncModel/RunRecord.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

RunRecord sampleRecord() {
    RunRecord r;
    r.id = *Uuid::parse("1b4e28ba-2fa1-11d2-883f-0016d3cca427");
    r.jobID = *Uuid::parse("0F3E2B1A-9C8D-4E7F-A6B5-C4D3E2F1A0B9");
    r.trigger = RunTrigger::catchUp;
    r.startedAt = Date{786297600.123456};
    r.endedAt = Date{786297663.0000001};
    r.outcome = RunOutcome::failed("Could not save run history: disk full");
    r.stats = RunStats{12, 9'876'543'210, 3,
                       {{"a/b.txt", FileSkipReason::caseCollision}, {"big.iso", FileSkipReason::tooLargeForFAT}},
                       {"rsync: permission denied", "second"}};
    r.logPath = "/home/me/.local/share/KeltoSync/Logs/run.log";
    return r;
}

RunRecord decode(const Json& json) { return JsonCodec<RunRecord>::decode(JsonIn(json)); }
RunOutcome outcome(std::string_view json) { return JsonText::decode<RunOutcome>(json); }

// Stored histories hold these words: each reads back as its reason. Names
// that are not UTF-8 still encode; a null log path reads as none.
TEST(RunRecordJson, SkipReasonWordsNamesThatAreNotUtf8AndAnAbsentLogPathRoundTrip) {
    for (const auto& [reason, word] : std::initializer_list<std::pair<FileSkipReason, std::string>>{
             {FileSkipReason::typeConflict, "typeConflict"},
             {FileSkipReason::timeOutOfRange, "timeOutOfRange"},
             {FileSkipReason::specialFile, "specialFile"},
             {FileSkipReason::nameNotAllowed, "nameNotAllowed"},
             {FileSkipReason::normalisationTwin, "normalisationTwin"}}) {
        const std::string text = R"({"path":"p","reason":")" + word + "\"}";
        EXPECT_EQ(JsonText::encode(SkippedFile{"p", reason}), text);
        EXPECT_EQ(JsonText::decode<SkippedFile>(text).reason, reason) << word;
    }
    RunRecord record = sampleRecord();
    record.outcome = RunOutcome::failed("rsync: \"bad\xFFname\" failed");
    record.stats.skipped = {{"bad\xFF\xFEname", FileSkipReason::tooLargeForFAT}};
    record.stats.errors = {"cannot delete \"x\x80\""};
    const RunRecord back = JsonText::decode<RunRecord>(JsonText::encode(record));
    EXPECT_EQ(back.stats.skipped.at(0).path, "bad\uFFFD\uFFFDname");
    EXPECT_EQ(back.stats.errors.at(0), "cannot delete \"x\uFFFD\"");
    EXPECT_EQ(back.outcome, RunOutcome::failed("rsync: \"bad\uFFFDname\" failed"));
    record = sampleRecord();
    record.logPath.reset();
    Json json = JsonCodec<RunRecord>::encode(record);
    EXPECT_FALSE(json.contains("logPath"));
    EXPECT_EQ(decode(json), record);
    json["logPath"] = nullptr;
    EXPECT_EQ(decode(json), record);
}

TEST(RunRecordJson, RejectsMissingMembersAndUnknownWords) {
    const Json good = JsonCodec<RunRecord>::encode(sampleRecord());
    for (const char* key : {"id", "jobID", "trigger", "startedAt", "endedAt", "outcome", "stats"}) {
        Json json = good;
        json.erase(key);
        EXPECT_THROW(decode(json), DecodingError) << key;
    }
    for (const char* key : {"filesCopied", "bytesCopied", "filesArchived", "skipped", "errors"}) {
        Json json = good;
        json["stats"].erase(key);
        EXPECT_THROW(decode(json), DecodingError) << key;
    }
    auto fails = [&](auto edit) {
        Json json = good;
        edit(json);
        EXPECT_THROW(decode(json), DecodingError) << json.dump();
    };
    fails([](Json& j) { j["trigger"] = "Manual"; });
    fails([](Json& j) { j["outcome"] = Json::parse(R"({"skipped":{"_0":"lowPower"}})"); });
    fails([](Json& j) { j["outcome"] = Json::parse(R"({"skipped":{}})"); });
    fails([](Json& j) { j["outcome"] = Json::parse(R"({"failed":{"_0":7}})"); });
    fails([](Json& j) { j["stats"]["skipped"][0]["reason"] = "tooLarge"; });
    // One bad record spoils the whole history.
    Json history = Json::array({good, good});
    history[1]["trigger"] = "Manual";
    EXPECT_THROW(JsonText::decode<std::vector<RunRecord>>(history.dump()), DecodingError);
}

TEST(RunOutcomeJson, WritesAndNeedsExactlyOneMemberNamedAfterTheCase) {
    EXPECT_EQ(JsonText::encode(RunOutcome::interrupted()), R"({"interrupted":{}})");
    EXPECT_EQ(JsonText::encode(RunOutcome::skipped(SkipReason::identityMismatch)),
              R"({"skipped":{"_0":"identityMismatch"}})");
    for (const RunOutcome& o : {RunOutcome::success(), RunOutcome::completedWithWarnings(),
                                RunOutcome::completedWithErrors(), RunOutcome::failed("x"), RunOutcome::cancelled(),
                                RunOutcome::interrupted(), RunOutcome::skipped(SkipReason::folderMissing),
                                RunOutcome::needsReview("y")})
        EXPECT_EQ(outcome(JsonText::encode(o)), o) << JsonText::encode(o);
    EXPECT_NE(RunOutcome::failed("Disk full"), RunOutcome::failed("disk full"));  // payloads compare exactly
    for (const char* bad : {R"({})", R"({"success":{},"failed":{"_0":"x"}})", R"({"note":{}})"}) {
        Json json = JsonCodec<RunRecord>::encode(sampleRecord());
        json["outcome"] = Json::parse(bad);
        try {
            decode(json);
            ADD_FAILURE() << bad;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
            EXPECT_EQ(error.debugDescription(), "Invalid number of keys found, expected one.");
            EXPECT_EQ(error.codingPath(), "outcome");
        }
    }
    EXPECT_EQ(outcome(R"({"note":1,"cancelled":{}})"), RunOutcome::cancelled());
    EXPECT_EQ(outcome(R"({"success":{"extra":true}})"), RunOutcome::success());
    for (const char* bad : {R"({"success":3})", R"({"success":"yes"})", R"({"success":null})", R"("success")"})
        EXPECT_THROW(outcome(bad), DecodingError) << bad;
}

}  // namespace
