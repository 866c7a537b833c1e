#include "SyncEngine/BaselineStore.h"

#include "SyncEngine/CancellationError.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <fstream>
#include <iostream>
#include <functional>
#include <thread>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

class BaselineStoreTest : public ::testing::Test {
protected:
    // Writes straight into the file, as a damaged or foreign database would.
    void sql(const std::string& text) {
        SqliteDatabase db;
        ASSERT_EQ(db.open(file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
        ASSERT_EQ(db.execute(text.c_str()), SQLITE_OK) << db.errorMessage();
    }
    static Baseline sample() {
        return Baseline{{"a.txt", {EntryKind::file, 10, 100}},
                        {"d", {EntryKind::directory, 0, 5}},
                        {"d/link", {EntryKind::symlink, 7, -3}},
                        {"d/\xC3\xA9", {EntryKind::other, INT64_MAX, INT64_MIN}}};
    }
    test::TemporaryFolder folder;
    fs::path root = folder.path();
    fs::path file = root / "state" / "JOB.sqlite";
};

// The message of the BaselineStoreError an action throws; empty for none.
std::string failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const BaselineStoreError& error) {
        return error.message();
    }
    return "";
}

TEST_F(BaselineStoreTest, SavedBaselineLoadsOnlyForTheSameSideIdentitiesAndACancelledSaveKeepsIt) {
    {
        BaselineStore readOnly(file, true);  // on a missing file: reads nothing, creates nothing
        EXPECT_FALSE(readOnly.load("X", std::nullopt));
        EXPECT_FALSE(readOnly.sideCounts());
        EXPECT_FALSE(fs::exists(root / "state"));
    }
    {
        BaselineStore store(file, false);
        EXPECT_TRUE(fs::exists(file));
        EXPECT_FALSE(store.load("X", std::nullopt));
        store.save(sample(), "X", std::nullopt, SideCounts{3, -2});
        EXPECT_EQ(store.load("X", std::nullopt), sample());
        EXPECT_FALSE(store.load("Y", std::nullopt));
        EXPECT_FALSE(store.load("X", "X"));
        EXPECT_FALSE(store.load(std::nullopt, std::nullopt));
        // "some:" plus the text is compared whole: an empty identity is not "none".
        EXPECT_FALSE(store.load(std::string(), std::nullopt));
        EXPECT_EQ(store.sideCounts(), (SideCounts{3, -2}));
        // A save stopped before the first entry, and (with no entries) before the commit, keeps it whole.
        std::stop_source stop;
        stop.request_stop();
        EXPECT_THROW(store.save(Baseline{{"other", {}}}, "Z", "Z", SideCounts{9, 9}, stop.get_token()), CancellationError);
        EXPECT_THROW(store.save(Baseline{}, "Z", "Z", SideCounts{9, 9}, stop.get_token()), CancellationError);
    }
    BaselineStore reader(file, true);
    EXPECT_EQ(reader.load("X", std::nullopt), sample());
    EXPECT_EQ(reader.sideCounts(), (SideCounts{3, -2}));
}

TEST_F(BaselineStoreTest, ASaveOverWhatItHoldsEndsAsAWholeSave) {
    BaselineStore store(file, false);
    store.save(sample(), "X", "Y", SideCounts{1, 2});
    store.save(Baseline{}, std::nullopt, "Y", SideCounts{0, 7});
    EXPECT_FALSE(store.load("X", "Y"));
    EXPECT_EQ(store.load(std::nullopt, "Y"), Baseline{});
    EXPECT_EQ(store.sideCounts(), (SideCounts{0, 7}));
    store.save(sample(), "X", "Y", SideCounts{3, 1});
    const Baseline next{{"a.txt", {EntryKind::file, 11, 100}}, {"b.txt", {EntryKind::file, 1, 2}},
                        {"d", {EntryKind::directory, 0, 5}}, {"d/\xC3\xA9", {EntryKind::other, INT64_MAX, INT64_MIN}}};
    const std::optional<Baseline> stored = store.load("X", "Y");
    ASSERT_TRUE(stored);
    store.save(next, "X", "Y", SideCounts{4, 4}, {}, &*stored);
    EXPECT_EQ(store.load("X", "Y"), next);
    EXPECT_EQ(store.sideCounts(), (SideCounts{4, 4}));
    const std::optional<Baseline> again = store.load("X", "Y");
    store.save(Baseline{}, "X", "Y", SideCounts{0, 0}, {}, &*again);
    EXPECT_EQ(store.load("X", "Y"), Baseline{});
}

TEST_F(BaselineStoreTest, RacyMarksRoundTripAndAreUnknownWhereNeverSaved) {
    Baseline::Builder builder;
    for (const Baseline::Ref item : sample()) builder.add(item.key, item.entry, true);
    const Baseline marked = std::move(builder).build();
    ASSERT_EQ(marked.racyKeys(), (std::vector<std::string>{"a.txt", "d/link"}));  // files and links only
    {
        BaselineStore store(file, false);
        store.save(marked, "X", std::nullopt, SideCounts{1, 1});
        const std::optional<Baseline> stored = store.load("X", std::nullopt);
        EXPECT_EQ(stored, marked);
        store.save(sample(), "X", std::nullopt, SideCounts{1, 1}, {}, &*stored);
        EXPECT_EQ(store.load("X", std::nullopt), sample());
    }
    sql("DROP VIEW racy");  // as a build that kept no marks left it
    for (const bool readOnly : {true, false}) {
        const std::optional<Baseline> old = BaselineStore(file, readOnly).load("X", std::nullopt);
        ASSERT_TRUE(old);
        EXPECT_FALSE(old->marksKnown());
        EXPECT_EQ(old->size(), 4u);
    }
}

TEST_F(BaselineStoreTest, InvalidEntriesFailAndRollBackAndCountsMustBeDecimalIntegers) {
    { BaselineStore store(file, false); store.save(sample(), "X", std::nullopt, SideCounts{1, 1}); }
    const std::string kind = "Invalid baseline kind", entry = "Invalid baseline entry";
    const std::pair<const char*, std::string> rows[] = {
        {"4, 1, 1", kind},       {"-1, 1, 1", kind},       {"4294967297, 1, 1", kind}, {"'file', 1, 1", kind},
        {"NULL, 1, 1", kind},    {"0, 'abc', 1", entry},   {"0, 1, 1.5", entry},       {"0, 1.0e30, 1", entry},
        {"0, 1, X'01'", entry},  {"0, '', 1", entry},      {"0, 1, '7x'", entry},      {"0, NULL, 1", entry},
        {"0, 1, NULL", entry}};
    for (const auto& [row, message] : rows) {
        sql(std::string("DELETE FROM entries WHERE key = 'bad'; INSERT INTO entries VALUES('bad', ") + row + ")");
        BaselineStore store(file, false);
        EXPECT_EQ(failure([&] { store.load("X", std::nullopt); }), message) << row;
        // The read transaction was rolled back: the same connection can write.
        EXPECT_NO_THROW(store.save(sample(), "X", std::nullopt, SideCounts{1, 1})) << row;
    }
    // Integer affinity stores the text of a whole number, and a whole real, as integers.
    sql("DELETE FROM entries; INSERT INTO entries VALUES(NULL, 0, 1, 1)");
    EXPECT_THROW(BaselineStore(file, true).load("X", std::nullopt), BaselineStoreError);
    sql("DELETE FROM entries; INSERT INTO entries VALUES('t', 0, '12', 3.0)");
    EXPECT_EQ(BaselineStore(file, true).load("X", std::nullopt), (Baseline{{"t", {EntryKind::file, 12, 3}}}));
    fs::remove_all(root / "state");
    { BaselineStore store(file, false); store.save(Baseline{}, std::nullopt, std::nullopt, SideCounts{1, 2}); }
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"12x", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt}, {" 5", std::nullopt},
        {"9223372036854775808", std::nullopt}, {"+12", 12}, {"-9223372036854775808", INT64_MIN}, {"007", 7}};
    for (const auto& [text, expected] : cases) {
        sql(std::string("UPDATE meta SET value = '") + text + "' WHERE key = 'countA'");
        const auto counts = BaselineStore(file, true).sideCounts();
        EXPECT_EQ(counts, expected ? std::optional(SideCounts{*expected, 2}) : std::nullopt) << text;
    }
    for (const char* gone : {"UPDATE meta SET value = NULL WHERE key = 'countB'", "DELETE FROM meta WHERE key = 'countB'"}) {
        sql(gone);
        EXPECT_FALSE(BaselineStore(file, true).sideCounts()) << gone;
    }
}

TEST_F(BaselineStoreTest, EveryBaselineThatCannotBeReadIsNamedWithAWayOut) {
    auto expectNamed = [&](const std::string& what, const std::string& reason = "") {
        const std::string whole = BaselineStoreError::unusable(file.string(), reason).message();
        const std::string before = whole.substr(0, whole.find('(') + 1), after = whole.substr(whole.find(')'));
        for (const bool readOnly : {true, false}) {
            const std::string message = failure([&] {
                BaselineStore store(file, readOnly);
                store.load("X", std::nullopt);
                (void)store.sideCounts();
            });
            if (!reason.empty()) { EXPECT_EQ(message, whole) << what << " read-only " << readOnly; }
            EXPECT_TRUE(message.starts_with(before) && message.ends_with(after)) << message << "\n" << what << readOnly;
        }
    };
    auto saved = [&] {
        fs::remove_all(file);
        BaselineStore store(file, false);
        Baseline::Builder many;
        for (int i = 0; i < 3000; ++i) many.add("folder/file " + std::to_string(i), {EntryKind::file, i, i});
        store.save(std::move(many).build(), "X", std::nullopt, SideCounts{3000, 0});
    };
    saved();
    fs::resize_file(file, fs::file_size(file) / 2);  // cut short
    expectNamed("cut short", "database disk image is malformed");
    saved();
    {  // a newer schema format than this SQLite knows
        std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
        bytes.seekp(47);
        bytes.put('\x05');
    }
    expectNamed("newer format", "unsupported file format");
    fs::remove_all(file);
    fs::create_directories(file);
    expectNamed("a folder");  // unable to open it, or an I/O error reading it
    fs::remove_all(file);
    fs::create_symlink(file.filename(), file);  // a link to itself
    expectNamed("a looping link", std::make_error_code(std::errc::too_many_symbolic_link_levels).message());
    // A file cut to nothing, or holding other tables, is no baseline to start afresh on.
    for (const char* other : {"", "CREATE TABLE unrelated(x)"}) {
        fs::remove_all(file);
        std::ofstream{file};
        if (*other) sql(other);
        expectNamed(other);
    }
    // A damaged record of the sides is never read as no baseline.
    for (const char* damage : {"DELETE FROM meta WHERE key = 'uuidA'", "UPDATE meta SET value = NULL WHERE key = 'uuidB'",
                               "DELETE FROM meta WHERE key = 'countA'", "UPDATE meta SET value = '12x' WHERE key = 'countB'",
                               "DELETE FROM meta"}) {
        saved();
        sql(damage);
        expectNamed(damage);
        for (const bool readOnly : {false, true}) {
            BaselineStore store(file, readOnly);
            const std::string message = failure([&] { store.load("X", std::nullopt); });
            EXPECT_NE(message.find("The baseline file " + file.string() + " cannot be used"), std::string::npos)
                << message << "\n" << damage << " read-only " << readOnly;
            EXPECT_THROW(store.isRecordedFor("X", std::nullopt), BaselineStoreError) << damage;
        }
    }
    // Never saved, or saved with nothing in it: no baseline, no error.
    fs::remove_all(root / "state");
    EXPECT_FALSE(BaselineStore(file, false).load("X", std::nullopt));
    { BaselineStore(file, false).save(Baseline{}, "X", std::nullopt, SideCounts{0, 0}); }
    sql("DELETE FROM meta");
    EXPECT_FALSE(BaselineStore(file, false).load("X", std::nullopt));
}

TEST_F(BaselineStoreTest, AFileThatIsNoDatabaseIsNamedWithAWayOut) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << std::string(4096, 'x');
    for (const bool readOnly : {false, true}) {
        const std::string message = failure([&] { BaselineStore(file, readOnly).load(std::nullopt, std::nullopt); });
        for (const std::string& part : {file.string(), std::string("not a baseline database"), std::string("Move it aside or remove it")})
            EXPECT_NE(message.find(part), std::string::npos) << message;
    }
}

// A user without root's rights reads `file` read-only, then read-write, then saves: the first `working` steps
// succeed, the rest fail naming the file as out of reach.
void expectForAnotherUser(const fs::path& file, int working) {
    for (const int step : {0, 1, 2}) {
        EXPECT_EXIT(
            {
                if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                                         ::setresuid(65534, 65534, 65534) != 0))
                    std::_Exit(2);
                std::string message = "no failure";
                try {
                    BaselineStore store(file, step == 0);
                    if (step < 2) store.load("X", std::nullopt);
                    else store.save(Baseline{}, "X", std::nullopt, SideCounts{0, 0});
                } catch (const std::exception& error) {
                    message = error.what();
                }
                std::cerr << message;
                const bool named = message.starts_with("The baseline file " + file.string() + " is not open to this user (") &&
                                   message.find("Move it aside") == std::string::npos;
                std::_Exit(step < working ? message != "no failure" : !named);
            },
            ::testing::ExitedWithCode(0), "")
            << "step " << step;
    }
}

TEST_F(BaselineStoreTest, ABaselineOutOfThisUsersReachIsNamedAndKept) {
    { BaselineStore(file, false).save(sample(), "X", std::nullopt, SideCounts{4, 4}); }
    fs::permissions(root, fs::perms(0755));
    // The file itself; its folder, so not even its presence shows; its folder readable, but no journal can be made.
    for (const auto& [item, mode] : {std::pair{file, fs::perms::none}, {file.parent_path(), fs::perms::none},
                                     {file.parent_path(), fs::perms(0555)}}) {
        SCOPED_TRACE(item.string() + " " + std::to_string(static_cast<int>(mode)));
        fs::permissions(item, mode);
        expectForAnotherUser(file, mode == fs::perms(0555) ? 2 : 0);  // reading works in a readable folder
        fs::permissions(file.parent_path(), fs::perms(0755));
        fs::permissions(file, fs::perms(0644));
        EXPECT_EQ(BaselineStore(file, true).load("X", std::nullopt), sample());
    }
}

TEST_F(BaselineStoreTest, ALockedBaselineIsNamedAndKept) {
    { BaselineStore(file, false).save(sample(), "X", std::nullopt, SideCounts{4, 4}); }
    SqliteDatabase holder;
    ASSERT_EQ(holder.open(file.string(), SQLITE_OPEN_READWRITE), SQLITE_OK);
    ASSERT_EQ(holder.execute("BEGIN EXCLUSIVE"), SQLITE_OK);
    std::string messages[2];
    {
        // Each waits out SQLite's busy time-out: both at once.
        std::jthread readOnly([&] { messages[0] = failure([&] { BaselineStore(file, true).load("X", std::nullopt); }); });
        messages[1] = failure([&] { BaselineStore(file, false).load("X", std::nullopt); });
    }
    for (const std::string& message : messages) {
        EXPECT_EQ(message, BaselineStoreError::locked(file.string(), "database is locked").message());
        EXPECT_EQ(message.find("Move it aside"), std::string::npos) << message;
    }
    ASSERT_EQ(holder.execute("COMMIT"), SQLITE_OK);
    EXPECT_EQ(BaselineStore(file, false).load("X", std::nullopt), sample());
}

}  // namespace

TEST_F(BaselineStoreTest, ACreationCutShortLeavesNoFileThatIsRefusedLater) {
    for (const rlim_t limit : {rlim_t{0}, rlim_t{4096}}) {
        SCOPED_TRACE(limit);
        fs::remove_all(root / "state");
        EXPECT_EXIT(
            {
                ::signal(SIGXFSZ, SIG_IGN);
                rlimit small{};  // no comma: the block is a macro argument
                small.rlim_cur = small.rlim_max = limit;
                ::setrlimit(RLIMIT_FSIZE, &small);
                try {
                    BaselineStore store(file, false);
                } catch (const BaselineStoreError& error) {
                    // Nothing stands there to move aside: the message only names the file.
                    std::cerr << error.message();
                    std::_Exit(error.message().starts_with("The baseline file " + file.string() + " could not be made (")
                                   ? 0 : 2);
                }
                std::_Exit(1);  // the limit did not cut it short
            },
            ::testing::ExitedWithCode(0), "");
        BaselineStore store(file, false);
        store.save(sample(), "X", std::nullopt, SideCounts{1, 1});
        EXPECT_EQ(store.load("X", std::nullopt), sample());
    }
}

TEST_F(BaselineStoreTest, CreatorsAtOnceAllOpenTheOneWholeFile) {
    for (int round = 0; round < 5; ++round) {
        fs::remove_all(root / "state");
        std::vector<pid_t> children;
        for (int i = 0; i < 6; ++i) {
            const pid_t child = ::fork();
            ASSERT_NE(child, -1);
            if (child == 0) {
                try {
                    BaselineStore store(file, false);
                    ::_exit(store.isRecordedFor("X", std::nullopt) ? 1 : 0);
                } catch (const std::exception&) {
                    ::_exit(1);
                }
            }
            children.push_back(child);
        }
        for (const pid_t child : children) {
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        EXPECT_NO_THROW(BaselineStore(file, false));
    }
}
