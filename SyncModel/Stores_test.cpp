// Stored documents (compact JSON, upper-case UUIDs, dates as seconds since 2001, members in no particular order) and
// the files that hold them.
#include "SyncModel/JobStore.h"
#include "SyncModel/RunHistoryStore.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/Trigger.h"

#include "tests/support/SavedJobs.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <set>
#include <thread>
#include <tuple>

using namespace kelto;

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

template <typename T>
T decoded(const Json& json) {
    return JsonCodec<T>::decode(JsonIn(json));
}

// Each edit of `good` makes a document that does not decode as a T.
template <typename T>
void expectRefused(const Json& good, std::initializer_list<std::function<void(Json&)>> edits) {
    for (const auto& edit : edits) {
        Json json = good;
        edit(json);
        EXPECT_THROW(decoded<T>(json), DecodingError) << json.dump();
    }
}

Trigger read(std::string_view json) { return JsonText::decode<Trigger>(json); }
std::string write(const Trigger& t) { return JsonText::encode(t); }

TEST(TriggerRules, IntervalsAreFifteenMinutesToOneYearWeekdaysAreASetAndJsonReadsLegacyMinutesButNoUnknownWord) {
    using enum IntervalUnit;
    const auto below = ValidationIssue::intervalBelowMinimum;
    const auto tooLong = ValidationIssue::intervalTooLong;
    const std::optional<ValidationIssue> fine;
    for (const auto& [value, unit, issue] : std::initializer_list<std::tuple<std::int64_t, IntervalUnit, std::optional<ValidationIssue>>>{
             {14, minutes, below}, {15, minutes, fine}, {525'600, minutes, fine}, {525'601, minutes, tooLong},
             {0, hours, below}, {1, hours, fine}, {8'760, hours, fine}, {8'761, hours, tooLong},
             {0, days, below}, {365, days, fine}, {366, days, tooLong}})
        EXPECT_EQ(Trigger::intervalIssue(value, unit), issue) << value << " " << enumName(unit);
    for (IntervalUnit unit : IntervalUnits::allCases) {
        EXPECT_EQ(Trigger::intervalIssue(-1, unit), below);
        EXPECT_EQ(Trigger::intervalIssue(std::numeric_limits<std::int64_t>::min(), unit), below);
        EXPECT_EQ(Trigger::intervalIssue(std::numeric_limits<std::int64_t>::max(), unit), tooLong);  // no overflow
    }
    // The stored documents' test sees each case's written form read back; equality takes weekdays as a set.
    EXPECT_EQ(write(Trigger::weekly({}, {0, 0})), R"({"type":"weekly","weekdays":[],"at":{"hour":0,"minute":0}})");
    EXPECT_EQ(read(R"({"type":"weekly","weekdays":[4,2,2],"at":{"hour":9,"minute":0}})"),
              read(R"({"type":"weekly","weekdays":[2,4],"at":{"hour":9,"minute":0}})"));
    EXPECT_NE(Trigger::weekly({2, 4}, {9, 0}), Trigger::weekly({2, 4}, {9, 1}));
    EXPECT_NE(Trigger::weekly({2, 4}, {9, 0}), Trigger::weekly({2, 4, 6}, {9, 0}));
    EXPECT_NE(Trigger::every(60, IntervalUnit::minutes), Trigger::every(1, IntervalUnit::hours));
    EXPECT_NE(Trigger::onConnect(ConnectAction::run), Trigger::onConnect(ConnectAction::ask));
    EXPECT_NE(Trigger::daily({9, 0}), Trigger::weekly({1, 2, 3, 4, 5, 6, 7}, {9, 0}));
    // Read, the legacy minutes count, foreign keys are ignored and ranges left to the rules.
    EXPECT_EQ(read(R"({"type":"every","value":2,"unit":"hours","minutes":30})"),
              Trigger::every(2, IntervalUnit::hours));
    // Half of the current form is not taken for the legacy form.
    EXPECT_THROW(read(R"({"type":"every","unit":"hours","minutes":30})"), DecodingError);
    EXPECT_THROW(read(R"({"type":"every","value":2,"minutes":30})"), DecodingError);
    EXPECT_THROW(read(R"({"type":"every"})"), DecodingError);
    EXPECT_EQ(read(R"({"type":"daily","action":"run","minutes":5,"at":{"hour":8,"minute":0}})"),
              Trigger::daily({8, 0}));
    EXPECT_EQ(read(R"({"type":"weekly","weekdays":[9],"at":{"hour":25,"minute":0}})"), Trigger::weekly({9}, {25, 0}));
    EXPECT_EQ(read(R"({"type":"every","value":1,"unit":"minutes"})"), Trigger::every(1, IntervalUnit::minutes));
    for (const char* bad : {R"({"type":"hourly"})", R"({"type":"OnConnect","action":"run"})",
                            R"({"type":"onConnect","action":"later"})", R"({"type":"onConnect"})",
                            R"({"type":"every","value":2,"unit":"weeks"})", R"({"type":"daily","at":{"hour":8}})",
                            R"({"type":"weekly","at":{"hour":8,"minute":0}})", R"({"action":"run"})"})
        EXPECT_THROW(read(bad), DecodingError) << bad;
}

// A job with every optional field present and every list non-empty.
SyncJob fullJob() {
    SyncJob job = SyncJob::newJob("Photos to NAS");
    job.id = *Uuid::parse("0F3E2B1A-9C8D-4E7F-A6B5-C4D3E2F1A0B9");
    job.source = {"/Users/me/Pictures", std::string("book\0mark\xff", 10),
                  {VolumeKind::internal, "5C1D7E2A-0000-4000-8000-000000000001", "Macintosh HD", "apfs", false, false,
                   std::nullopt},
                  "Users/me/Pictures", 18'446'744'073'709'551'615ULL};
    job.destination = {"/Volumes/photos", std::nullopt,
                       {VolumeKind::network, std::nullopt, "photos", "smbfs", false, true,
                        Url::parse("smb://me@nas.local/photos")},
                       "", std::nullopt};
    job.mode = SyncMode::mirror;
    job.triggers = {Trigger::onConnect(ConnectAction::ask), Trigger::weekly({2, 6}, {20, 15})};
    job.filters = FilterSet{false, {"*.tmp", "", "/cache/"}};
    job.options = JobOptions{false, std::nullopt, 35, 200, true, true};
    job.isEnabled = false;
    return job;
}

// Optional members may be null. The stored documents' test reads members in other orders and the job store's sees the
// compact form. Filters and the comparison of jobs ride along.
TEST(SyncJobJson, EveryRequiredKeyIsRequiredAndUnknownWordsAndMalformedValuesButNotUnknownKeysAreRejected) {
    const Json good = JsonCodec<SyncJob>::encode(fullJob());
    EXPECT_EQ(good["source"]["fileID"].dump(), "18446744073709551615");
    Json withNulls = good;
    for (const char* pointer : {"/source/bookmark", "/source/fileID", "/source/volume/uuid",
                                "/destination/volume/remountURL", "/options/archiveRetentionDays"})
        withNulls[Json::json_pointer(pointer)] = nullptr;
    SyncJob expected = fullJob();
    expected.source.bookmark.reset();
    expected.source.fileID.reset();
    expected.source.volume.uuid.reset();
    expected.destination.volume.remountURL.reset();
    EXPECT_EQ(decoded<SyncJob>(withNulls), expected);
    for (const char* path : {"/id", "/name", "/source", "/destination", "/mode", "/triggers", "/filters", "/options",
                             "/isEnabled", "/source/path", "/source/volume", "/destination/relativePath",
                             "/source/volume/kind", "/source/volume/name", "/destination/volume/fileSystem",
                             "/destination/volume/isReadOnly", "/source/volume/caseSensitive",
                             "/filters/useDefaultExcludes", "/filters/patterns", "/options/archiveEnabled",
                             "/options/deleteGuardPercent", "/options/deleteGuardMinFiles", "/options/ejectWhenDone",
                             "/options/skipOnBattery"}) {
        const Json::json_pointer key(path);
        Json json = good;
        json[key.parent_pointer()].erase(key.back());
        try {
            decoded<SyncJob>(json);
            ADD_FAILURE() << "decoded without " << path;
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound) << path;
        }
        json[key] = nullptr;  // null is no better than missing
        EXPECT_THROW(decoded<SyncJob>(json), DecodingError) << path;
    }
    expectRefused<SyncJob>(good, {
        [](Json& j) { j["mode"] = "Mirror"; },
        [](Json& j) { j["source"]["volume"]["kind"] = "usb"; },
        [](Json& j) { j["id"] = "not-a-uuid"; },
        [](Json& j) { j["source"]["bookmark"] = "Ym9vaw"; },
        [](Json& j) { j["destination"]["volume"]["remountURL"] = "smb://nas local/photos"; },
        [](Json& j) { j["isEnabled"] = 1; },
        [](Json& j) { j["source"]["fileID"] = -1; },
        [](Json& j) { j["triggers"][0]["action"] = "maybe"; },
    });
    Json extra = good;
    extra["colour"] = "blue";
    extra["source"]["volume"]["serial"] = 42;
    EXPECT_EQ(decoded<SyncJob>(extra), fullJob());
    // Default excludes come first; the stored documents' test sees a carriage return kept.
    std::vector<std::string> patterns(FilterSet::defaultExcludes.begin(), FilterSet::defaultExcludes.end());
    patterns.insert(patterns.end(), {"*.tmp", ".DS_Store"});  // a user duplicate of a default stays
    EXPECT_EQ((FilterSet{true, {"*.tmp", ".DS_Store"}}.effectivePatterns()), patterns);
    EXPECT_EQ((FilterSet{false, {"a", ""}}.effectivePatterns()), (std::vector<std::string>{"a", ""}));
    // Jobs compare text by canonical equivalence, and lists in order.
    const auto spelled = [](std::string name, std::string path, std::string volume) {
        SyncJob j = fullJob();
        j.name = std::move(name);
        j.source.path = std::move(path);
        j.destination.volume.name = std::move(volume);
        return j;
    };
    const SyncJob precomposed = spelled("Caf\u00e9", "/Users/me/Caf\u00e9", "\u00c9t\u00e9");
    EXPECT_EQ(precomposed, spelled("Cafe\u0301", "/Users/me/Cafe\u0301", "E\u0301te\u0301"));
    EXPECT_NE(precomposed, spelled("caf\u00e9", "/Users/me/Cafe\u0301", "E\u0301te\u0301"));  // letter case counts
    SyncJob other = fullJob();
    std::swap(other.triggers[0], other.triggers[1]);
    EXPECT_NE(other, fullJob());
}

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

RunOutcome outcome(std::string_view json) { return JsonText::decode<RunOutcome>(json); }

TEST(RunRecordJson, NamesNotUtf8ComeBackReplacedANullLogPathIsAbsentAndOutcomesNeedOneMemberNamedAfterTheCase) {
    RunRecord record = sampleRecord();
    record.outcome = RunOutcome::failed("rsync: \"bad\xFFname\" failed");
    record.stats.skipped = {{"bad\xFF\xFEname", FileSkipReason::tooLargeForFAT}};
    record.stats.errors = {"cannot delete \"x\x80\""};
    const RunRecord back = JsonText::decode<RunRecord>(JsonText::encode(record));
    EXPECT_EQ(std::tuple(back.stats.skipped.at(0).path, back.stats.errors.at(0), back.outcome),
              std::tuple("bad\uFFFD\uFFFDname", "cannot delete \"x\uFFFD\"",
                         RunOutcome::failed("rsync: \"bad\uFFFDname\" failed")));
    record = sampleRecord();
    record.logPath.reset();
    Json json = JsonCodec<RunRecord>::encode(record);
    json["logPath"] = nullptr;
    EXPECT_EQ(decoded<RunRecord>(json), record);
    // Missing members and unknown words are refused.
    const Json good = JsonCodec<RunRecord>::encode(sampleRecord());
    for (const char* key : {"id", "jobID", "trigger", "startedAt", "endedAt", "outcome", "stats"})
        expectRefused<RunRecord>(good, {[key](Json& j) { j.erase(key); }});
    for (const char* key : {"filesCopied", "bytesCopied", "filesArchived", "skipped", "errors"})
        expectRefused<RunRecord>(good, {[key](Json& j) { j["stats"].erase(key); }});
    expectRefused<RunRecord>(good, {
        [](Json& j) { j["trigger"] = "Manual"; },
        [](Json& j) { j["outcome"] = Json::parse(R"({"skipped":{"_0":"lowPower"}})"); },
        [](Json& j) { j["outcome"] = Json::parse(R"({"skipped":{}})"); },
        [](Json& j) { j["outcome"] = Json::parse(R"({"failed":{"_0":7}})"); },
        [](Json& j) { j["stats"]["skipped"][0]["reason"] = "tooLarge"; },
    });
    for (const RunOutcome& o : {RunOutcome::success(), RunOutcome::completedWithWarnings(),
                                RunOutcome::completedWithErrors(), RunOutcome::failed("x"), RunOutcome::cancelled(),
                                RunOutcome::interrupted(), RunOutcome::skipped(SkipReason::folderMissing),
                                RunOutcome::needsReview("y")})
        EXPECT_EQ(outcome(JsonText::encode(o)), o) << JsonText::encode(o);
    EXPECT_NE(RunOutcome::failed("Disk full"), RunOutcome::failed("disk full"));  // payloads compare exactly
    for (const char* bad : {R"({})", R"({"success":{},"failed":{"_0":"x"}})", R"({"note":{}})"}) {
        json = good;
        json["outcome"] = Json::parse(bad);
        try {
            decoded<RunRecord>(json);
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

std::string fixture(const char* name) {
    const char* root = std::getenv("KELTO_SOURCE_DIR");
    const fs::path folder =
        root ? fs::path(root) / "SyncModel" / "testdata" : fs::path(__FILE__).parent_path() / "testdata";
    auto bytes = FileIO::readIfExists(folder / name);
    if (!bytes) throw std::runtime_error("missing fixture " + (folder / name).string());
    return *bytes;
}

// Member order carries no meaning, so compare as unordered JSON.
nlohmann::json unordered(const Json& value) { return nlohmann::json::parse(value.dump()); }

TEST(StoredDocuments, ReadsTheJobsDocumentAndTheRunHistoryWithExactDates) {
    const Json document = JsonText::parse(fixture("jobs-v1.json"));
    const JsonIn in(document);
    EXPECT_EQ(in["version"].int64(), 1);
    const std::vector<SyncJob> jobs = in["jobs"].arrayOf<SyncJob>();
    ASSERT_EQ(jobs.size(), 3u);
    // What we write says the same as what we read, but for the legacy interval and the weekdays' order: a member
    // misread would be written otherwise.
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Json written = JsonCodec<SyncJob>::encode(jobs[i]);
        EXPECT_EQ(JsonText::decode<SyncJob>(JsonText::dump(written)), jobs[i]) << i;
        Json expected = document["jobs"][i];
        if (i == 1) expected["triggers"][0] = Json::parse(R"({"type":"every","value":30,"unit":"minutes"})");
        if (i == 2) expected["triggers"][1]["weekdays"] = Json::array({2, 4, 6});
        EXPECT_EQ(unordered(written), unordered(expected)) << JsonText::dump(written);
    }
    const std::string text = fixture("history.json");
    const std::vector<RunRecord> history = JsonText::decode<std::vector<RunRecord>>(text);
    ASSERT_EQ(history.size(), 5u);
    EXPECT_EQ(history[0].startedAt, Date{786297600.123456});
    EXPECT_EQ(history[0].endedAt, Date{786297663.9876543});
    const std::string written = JsonText::encode(history);
    // Dates compare exactly; a member misread would be written otherwise.
    EXPECT_EQ(JsonText::decode<std::vector<RunRecord>>(written), history);
    EXPECT_EQ(unordered(JsonText::parse(written)), unordered(JsonText::parse(text)));
}

std::string contents(const fs::path& file) { return FileIO::readIfExists(file).value_or("<absent>"); }

void put(const fs::path& file, const std::string& bytes = "log") { std::ofstream(file, std::ios::binary) << bytes; }

// Runs `work` with files limited to `bytes`, as on a full disk: the error number of the FileError it threw, else 0.
int errorPastSizeLimit(rlim_t bytes, const std::function<void()>& work) {
    rlimit saved{};
    EXPECT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    int error = 0;
    try {
        work();
    } catch (const FileError& e) {
        error = e.errorNumber();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    return error;
}

TEST(FileIOTest, WriteAtomicallyReplacesLeavingNoTemporaryFilesOrKeepsTheOldFileWhole) {
    test::TemporaryFolder folder;
    const fs::path file = folder / "jobs.json";
    for (const std::string& bytes : {std::string("first"), std::string("\0\xff\r\n second", 10),
                                     std::string(300'000, 'x')}) {  // the last more than one read buffer
        FileIO::writeAtomically(file, bytes);
        EXPECT_EQ(FileIO::readIfExists(file), bytes);
    }
    EXPECT_EQ(test::namesIn(folder.path()), Names{"jobs.json"});
    EXPECT_EQ(FileIO::readIfExists(folder / "no" / "such" / "folder.json"), std::nullopt);
    EXPECT_THROW(FileIO::readIfExists(folder.path()), FileError);
    EXPECT_THROW(FileIO::readIfExists(file / "child"), FileError);  // ENOTDIR is not "missing"
    folder.write("plain", "data");
    EXPECT_THROW(FileIO::writeAtomically(folder / "plain" / "jobs.json", "new"), FileError);
    EXPECT_EQ(FileIO::readIfExists(folder / "plain"), "data");
    fs::create_directories(folder / "history.json" / "inner");
    EXPECT_THROW(FileIO::writeAtomically(folder / "history.json", "new"), FileError);
    EXPECT_TRUE(fs::is_directory(folder / "history.json" / "inner"));
    FileIO::writeAtomically(file, "old content");
    EXPECT_EQ(errorPastSizeLimit(4096, [&] { FileIO::writeAtomically(file, std::string(100'000, 'n')); }), EFBIG);
    EXPECT_EQ(FileIO::readIfExists(file), "old content");
    EXPECT_EQ(test::namesIn(folder.path()), (Names{"history.json", "jobs.json", "plain"}));
}

SyncJob job(const std::string& name) {
    SyncJob j = SyncJob::newJob(name);
    j.source.path = "/src/" + name;
    j.destination.path = "/dst/" + name;
    j.triggers = {Trigger::every(1, IntervalUnit::hours)};
    return j;
}

// Every write reads the list under the lock: the store offers no write of a list read before it.
template <typename Store>
concept WritesAListReadElsewhere = requires(const Store& store) { store.save(std::vector<SyncJob>{}); };
static_assert(!WritesAListReadElsewhere<JobStore>);

TEST(JobStore, AMissingFileReadsAsEmptyASaveKeepsOrderAndDamagedFilesAreRefusedAndNeverRewritten) {
    test::TemporaryFolder temp;
    const JobStore store(temp / "a" / "b" / "jobs.json");
    EXPECT_TRUE(store.load().empty());
    EXPECT_FALSE(fs::exists(temp / "a"));
    test::saveJobs(store, {});
    EXPECT_EQ(contents(store.fileURL), R"({"version":1,"jobs":[]})");
    const std::vector<SyncJob> jobs{job("zeta"), job("alpha"), job("mu")};
    test::saveJobs(store, jobs);
    EXPECT_EQ(store.load(), jobs);
    // Empty or damaged files are refused and never rewritten; other read failures are the file layer's test.
    for (const std::string bytes : {"", "not json", "[]", R"({"jobs":[]})", R"({"version":"1","jobs":[]})",
                                    R"({"version":1.5,"jobs":[]})", R"({"version":1})",
                                    R"({"version":1,"jobs":[{"id":"nope"}]})"}) {
        SCOPED_TRACE(bytes);
        put(store.fileURL, bytes);
        EXPECT_THROW(store.load(), DecodingError);
        EXPECT_EQ(contents(store.fileURL), bytes);
    }
    // Another version is refused before any job is decoded.
    for (const std::string bytes : {R"({"version":2,"jobs":[{"not":"a job"}]})", R"({"version":0})"}) {
        put(store.fileURL, bytes);
        EXPECT_THROW(store.load(), JobStoreError);
    }
}

struct RunHistoryStoreTest : ::testing::Test {
    test::TemporaryFolder temp;
    fs::path logs = temp / "logs";
    RunHistoryStore store{temp / "support" / "history", logs};
    Uuid jobID = Uuid::random();
    void SetUp() override { fs::create_directory(logs); }
    // A record starting at `start`; a log name makes a log file in the log folder.
    RunRecord record(double start, std::optional<std::string> logName = std::nullopt) {
        RunRecord r;
        r.id = Uuid::random();
        r.jobID = jobID;
        r.startedAt = Date{start};
        r.endedAt = Date{start + 1};
        r.outcome = RunOutcome::success();
        if (logName) {
            r.logPath = (logs / *logName).string();
            put(*r.logPath);
        }
        return r;
    }
    RunRecord recordNaming(double start, std::string logPath) {
        RunRecord r = record(start);
        r.logPath = std::move(logPath);
        return r;
    }
    std::vector<double> starts(const std::vector<RunRecord>& records) {
        std::vector<double> out;
        for (const RunRecord& r : records) out.push_back(r.startedAt.sinceReference);
        return out;
    }
    std::vector<double> starts() { return starts(store.records(jobID)); }
};
TEST_F(RunHistoryStoreTest, AppendsNewestFirstKeepsTheNewestInOrderRemovesLogsNoKeptRecordNamesLeavesDamageAlone) {
    EXPECT_TRUE(store.records(jobID).empty());
    EXPECT_FALSE(fs::exists(temp / "support"));
    const RunRecord first = record(10, "a.log");
    store.append(first, 50);
    const fs::path file = temp / "support" / "history" / (jobID.string() + ".json");
    EXPECT_EQ(store.fileURL(jobID), file);
    EXPECT_EQ(JsonText::decode<std::vector<RunRecord>>(contents(file)), std::vector{first});
    const std::vector<RunRecord> stored{record(10), record(30), record(20)};
    FileIO::writeAtomically(store.fileURL(jobID), JsonText::encode(stored));
    EXPECT_EQ(starts(), (std::vector<double>{30, 20, 10}));
    store.append(record(25), 50);
    EXPECT_EQ(starts(JsonText::decode<std::vector<RunRecord>>(contents(store.fileURL(jobID)))),
              (std::vector<double>{30, 25, 20, 10}));
    jobID = Uuid::random();  // another job's history: the newest are kept
    store.append(record(1, "shared.log"), 50);
    store.append(record(2, "shared.log"), 50);
    store.append(record(3, "gone.log"), 50);
    for (int i = 50; i > 3; --i) store.append(record(i, std::to_string(i) + ".log"), 50);  // oldest last
    fs::remove(logs / "gone.log");
    store.append(record(51, "51.log"), 50);  // drops 1; 2 still names the shared log
    EXPECT_TRUE(fs::exists(logs / "shared.log"));
    store.append(record(52, "52.log"), 50);  // drops 2
    EXPECT_FALSE(fs::exists(logs / "shared.log"));
    EXPECT_NO_THROW(store.append(record(53, "53.log"), 50));  // drops 3, whose log is already gone
    std::vector<double> kept;
    for (int i = 53; i >= 4; --i) kept.push_back(i);
    EXPECT_EQ(starts(), kept);
    EXPECT_TRUE(fs::exists(logs / "4.log"));
    jobID = Uuid::random();  // another job's history: equal start times keep their order
    const RunRecord old = record(10, "old.log");
    store.append(old, 40);
    std::vector<RunRecord> expected;
    for (int i = 0; i < 39; ++i) {
        expected.push_back(record(i % 2 ? 20 : 30));
        store.append(expected.back(), 40);
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const RunRecord& a, const RunRecord& b) { return a.startedAt > b.startedAt; });
    expected.push_back(old);
    // Full: a tie with the oldest goes after it and is itself dropped.
    const RunRecord late = record(10, "late.log");
    store.append(late, 40);
    EXPECT_EQ(store.records(jobID), expected);
    EXPECT_FALSE(fs::exists(*late.logPath));
    EXPECT_TRUE(fs::exists(*old.logPath));
    for (std::int64_t limit : {0, -5}) {
        const RunRecord stored = record(1, "stored.log"), added = record(2, "added.log");
        store.append(stored, 50);
        store.append(added, limit);
        EXPECT_EQ(contents(store.fileURL(jobID)), "[]");
        EXPECT_FALSE(fs::exists(*stored.logPath));
        EXPECT_FALSE(fs::exists(*added.logPath));
    }
    fs::create_directories(store.directory);
    for (const std::string bytes : {"", "{not json", R"({"records":[]})", R"([{"id":1}])"}) {
        SCOPED_TRACE(bytes);
        put(store.fileURL(jobID), bytes);
        const RunRecord added = record(5, "added.log");
        EXPECT_THROW(store.append(added, 0), DecodingError);
        EXPECT_THROW(store.records(jobID), DecodingError);
        EXPECT_EQ(contents(store.fileURL(jobID)), bytes);
        EXPECT_TRUE(fs::exists(*added.logPath));
    }
}

TEST_F(RunHistoryStoreTest, LogRemovalStaysInItsFolderOrThrowsAfterTheWriteAndConcurrentAppendsLoseNothing) {
    const fs::path home = temp / "home";
    fs::create_directories(home / "Documents");
    put(home / "Documents" / "thesis.txt");
    put(home / "outside.log");
    fs::create_directories(logs / "subfolder");
    put(logs / "subfolder" / "inner.log");
    fs::create_directory_symlink(home, logs / "linked");
    fs::create_symlink(home / "outside.log", logs / "link.log");
    for (const std::string& path :
         {home.string(), (logs / "subfolder").string(), (home / "outside.log").string(),
          (logs / ".." / "home" / "outside.log").string(), (logs / "linked" / "outside.log").string(),
          (logs / "linked" / "Documents").string(), std::string("outside.log"), (logs / "link.log").string(),
          (logs / "subfolder" / "inner.log").string()})
        store.append(recordNaming(1, path), 100);
    EXPECT_NO_THROW(store.append(record(2), 0));
    EXPECT_EQ(test::namesIn(home / "Documents"), Names{"thesis.txt"});
    EXPECT_EQ(test::namesIn(home), (Names{"Documents", "outside.log"}));
    EXPECT_EQ(test::namesIn(logs), (Names{"linked", "subfolder"}));  // link.log, the link itself, went
    EXPECT_TRUE(test::namesIn(logs / "subfolder").empty());
    fs::create_symlink("loop", logs / "loop");  // resolving it fails with ELOOP
    store.append(recordNaming(1, (logs / "loop" / "x.log").string()), 50);
    EXPECT_THROW(store.append(record(2), 0), FileError);
    EXPECT_EQ(contents(store.fileURL(jobID)), "[]");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < 20; ++i) {
                store.append(record(t * 100 + i), 1000);
                store.records(jobID);
            }
        });
    for (std::thread& thread : threads) thread.join();
    std::set<Uuid> ids;
    for (const RunRecord& r : store.records(jobID)) ids.insert(r.id);
    EXPECT_EQ(ids.size(), 160u);
}

}  // namespace
