// Reading the jobs and run-history documents that the macOS app writes:
// compact JSON with "\/" escapes, upper-case UUIDs, dates as seconds since
// 2001 with fractions, members in no particular order.
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Text.h"
#include "SyncModel/SyncJob.h"
#include <gtest/gtest.h>
#include <bit>
#include <cstdlib>

using namespace kelto;

namespace {

std::string fixture(const char* name) {
    const char* root = std::getenv("KELTO_SOURCE_DIR");
    const std::filesystem::path folder = root ? std::filesystem::path(root) / "SyncModel" / "testdata"
                                              : std::filesystem::path(__FILE__).parent_path() / "testdata";
    auto bytes = FileIO::readIfExists(folder / name);
    if (!bytes) throw std::runtime_error("missing fixture " + (folder / name).string());
    return *bytes;
}

// Member order carries no meaning, so compare as unordered JSON.
nlohmann::json unordered(const Json& value) { return nlohmann::json::parse(value.dump()); }

std::uint64_t bits(Date d) { return std::bit_cast<std::uint64_t>(d.sinceReference); }

TEST(StoredDocuments, ReadsTheJobsDocument) {
    const Json document = JsonText::parse(fixture("jobs-v1.json"));
    const JsonIn in(document);
    EXPECT_EQ(in["version"].int64(), 1);
    const std::vector<SyncJob> jobs = in["jobs"].arrayOf<SyncJob>();
    ASSERT_EQ(jobs.size(), 3u);
    const SyncJob& mirror = jobs[0];
    EXPECT_EQ(mirror.id.string(), "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_EQ(mirror.name, "Documents \u2192 Backup");
    EXPECT_EQ(mirror.source.path, "/Users/me/Documents");
    EXPECT_EQ(mirror.source.bookmark,
              std::string("book\x00\x02\x00\x00mark\x00\x00\x00\x00\x10\x04\x00\x00\xfb\xff\xfe\x3e", 24));
    EXPECT_EQ(mirror.source.fileID, 12884902101u);
    EXPECT_EQ(mirror.filters.patterns, (std::vector<std::string>{"*.tmp", "/node_modules/", "Icon\r"}));
    const SyncJob& twoWay = jobs[1];
    EXPECT_EQ(twoWay.name, "Cafe\u0301 notes");  // kept as stored, not normalised on reading
    EXPECT_TRUE(Text::equal(twoWay.name, std::string("Caf\u00e9 notes")));
    EXPECT_EQ(twoWay.destination.volume.remountURL, Url::parse("smb://me@nas.local/Share"));
    EXPECT_EQ(twoWay.triggers, (std::vector<Trigger>{Trigger::every(30, IntervalUnit::minutes),
                                                     Trigger::onConnect(ConnectAction::ask)}));
    EXPECT_EQ(jobs[2].options.archiveRetentionDays, std::nullopt);
    EXPECT_EQ(jobs[2].triggers.at(1), Trigger::weekly({2, 4, 6}, {8, 0}));
    // What we write reads back equal and says the same as what we read,
    // except for the legacy interval and the order of the weekdays.
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Json written = JsonCodec<SyncJob>::encode(jobs[i]);
        EXPECT_EQ(JsonText::decode<SyncJob>(JsonText::dump(written)), jobs[i]) << i;
        Json expected = document["jobs"][i];
        if (i == 1) expected["triggers"][0] = Json::parse(R"({"type":"every","value":30,"unit":"minutes"})");
        if (i == 2) expected["triggers"][1]["weekdays"] = Json::array({2, 4, 6});
        EXPECT_EQ(unordered(written), unordered(expected)) << JsonText::dump(written);
    }
}

TEST(StoredDocuments, ReadsTheRunHistoryWithExactDates) {
    const std::string text = fixture("history.json");
    const std::vector<RunRecord> history = JsonText::decode<std::vector<RunRecord>>(text);
    ASSERT_EQ(history.size(), 5u);
    const RunRecord& first = history[0];
    EXPECT_EQ(first.id.string(), "1B4E28BA-2FA1-11D2-883F-0016D3CCA427");
    EXPECT_EQ(first.trigger, RunTrigger::connect);
    EXPECT_EQ(bits(first.startedAt), bits(Date{786297600.123456}));
    EXPECT_EQ(bits(first.endedAt), bits(Date{786297663.9876543}));
    EXPECT_EQ(first.outcome, RunOutcome::success());
    EXPECT_EQ(first.logPath, "/Users/me/Library/Logs/KeltoSync/2025-12-01_093000-1b4e28ba.log");
    EXPECT_EQ(history[1].outcome,
              RunOutcome::failed("rsync: [receiver] mkstemp \"/Volumes/BACKUP/a.txt\" failed: Permission denied (13)"));
    EXPECT_EQ(bits(history[1].endedAt), bits(Date{786384000.0}));
    EXPECT_EQ(history[1].stats.skipped.at(0),
              (SkippedFile{"Backups/Documents/big.iso", FileSkipReason::tooLargeForFAT}));
    EXPECT_EQ(history[2].outcome, RunOutcome::skipped(SkipReason::onBattery));
    EXPECT_EQ(history[2].logPath, std::nullopt);
    EXPECT_EQ(history[3].outcome, RunOutcome::needsReview("1,204 files would be archived (62%). Review the plan."));
    const std::string written = JsonText::encode(history);
    const std::vector<RunRecord> back = JsonText::decode<std::vector<RunRecord>>(written);
    EXPECT_EQ(back, history);
    for (std::size_t i = 0; i < history.size(); ++i) {
        EXPECT_EQ(bits(back[i].startedAt), bits(history[i].startedAt)) << i;
        EXPECT_EQ(bits(back[i].endedAt), bits(history[i].endedAt)) << i;
    }
    EXPECT_EQ(unordered(JsonText::parse(written)), unordered(JsonText::parse(text)));
}

}  // namespace
