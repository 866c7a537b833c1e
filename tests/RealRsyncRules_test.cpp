// rsync's own rules against the real rsync: listing times, exclude patterns, and where unfinished
// files are kept (the temporary folder only where rsync can rename out of it).

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncEngine/TransferScratch.h"
#include "tests/OneWayEngineFixture.h"
#include "tests/RealRsync.h"

#include <ctime>

using namespace kelto;
using namespace kelto::testing;
using kelto::test::put;
using kelto::test::putFiles;
namespace fs = std::filesystem;

namespace {

RsyncInvocation invocation(RsyncOperation operation, const fs::path& source, std::optional<fs::path> destination) {
    RsyncInvocation i;
    i.operation = std::move(operation);
    i.source = source;
    i.destination = std::move(destination);
    i.traits = test::traitsOf("ext4");
    return i;
}

struct ZoneScope {
    std::optional<std::string> saved;
    explicit ZoneScope(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneScope() {
        if (saved) setenv("TZ", saved->c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
};

// 01:30 on 2026-11-01, which happens twice in New York: EDT, then EST.
std::time_t halfPastOne(bool daylightSaving) {
    std::tm tm{};
    tm.tm_year = 126, tm.tm_mon = 10, tm.tm_mday = 1, tm.tm_hour = 1, tm.tm_min = 30;
    tm.tm_isdst = daylightSaving;
    return std::mktime(&tm);
}

void createWithTime(const fs::path& file, std::time_t t) {
    std::ofstream(file) << "x";
    const timespec times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

template <class Each>
void parse(RsyncOutputParser::Mode mode, const RsyncOutput& run, Each each) {
    RsyncOutputParser parser(mode);
    parser.feed(run.out, each);
    parser.finish(each);
}

std::map<std::string, ListEntry> list(const fs::path& folder) {
    const auto run = runRealRsync(RsyncArguments::build(invocation(RsyncOperation::listOnly(), folder, std::nullopt)));
    EXPECT_EQ(run.code, 0) << run.err;
    std::map<std::string, ListEntry> entries;
    parse(RsyncOutputParser::Mode::listOnly, run, [&](RsyncEvent&& e) {
        if (auto* l = e.asListEntry()) entries[l->path] = *l;
    });
    return entries;
}

bool touches(const RsyncOutput& run, std::string_view prefix) {
    bool found = false;
    parse(RsyncOutputParser::Mode::transfer, run, [&](RsyncEvent&& e) {
        if (auto* i = e.asItem()) found = found || i->path.starts_with(prefix);
    });
    return found;
}

const char* const archivedPath = ".KeltoSync/Archive/JOB/2026-01-01_000000-0000abcd/old.txt";

enum class Kind { file, link, folder };

void make(const fs::path& path, Kind kind) {
    switch (kind) {
    case Kind::file: put(path, "a file"); break;
    case Kind::link: fs::create_directory_symlink("elsewhere", path); break;
    case Kind::folder: put(path / "inside", "a folder"); break;
    }
}

fs::path temporaries(const fs::path& root) { return root / TransferScratch::temporaryRelativePath(); }

class TransferScratchTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path src = tmp / "src", dst = tmp / "dst";
};

}  // namespace

// rsync pads or cuts years outside four digits: tmpfs keeps such times.
TEST(RsyncListingTimes, YearsOutsideFourDigitsReadExactlyOrAsUnknown) {
    {
        SCOPED_TRACE("RepeatedDaylightSavingHourReadsTheRealInstant");
        TemporaryFolder tmp;
        std::time_t firstPass, secondPass;
        {
            ZoneScope zone("America/New_York");
            firstPass = halfPastOne(true);
            secondPass = halfPastOne(false);
            createWithTime(tmp.path() / "edt", firstPass);
            createWithTime(tmp.path() / "est", secondPass);
        }
        for (const char* appZone : {"America/New_York", "Asia/Kolkata", "UTC0"}) {
            ZoneScope zone(appZone);
            const auto entries = list(tmp.path());
            ASSERT_TRUE(entries.contains("edt") && entries.contains("est")) << appZone;
            EXPECT_EQ(std::tuple(entries.at("edt").mtime, entries.at("est").mtime), std::tuple(firstPass, secondPass))
                << appZone;
        }
    }
    std::string whyNot;
    const auto tmpfs = test::TmpfsFolder::make(whyNot);
    if (!tmpfs) GTEST_SKIP() << whyNot;
    const std::vector<std::tuple<std::string, std::time_t, bool>> times{  // name, time, read whole
        {"y999", -30'610'224'001, true},       {"y1", -62'135'596'800, true},         {"y0", -62'167'219'200, true},
        {"yminus1", -62'198'755'200, true},    {"yminus978", -93'000'000'000, true},  {"y9999", 253'402'300'799, true},
        {"y10000", 253'402'300'800, false},    {"y14645", 400'000'000'000, false},
        {"yminus1000", -93'700'000'000, false}, {"ylast", INT64_MAX, false}};  // the last: no broken-down time at all
    for (const auto& [name, t, whole] : times) createWithTime(tmpfs->path() / name, t);
    const auto entries = list(tmpfs->path());
    for (const auto& [name, t, whole] : times) {
        ASSERT_TRUE(entries.contains(name)) << name;
        const ListEntry& entry = entries.at(name);
        EXPECT_EQ(std::tuple(entry.timeKnown ? entry.mtime : t, entry.timeKnown, entry.size), std::tuple(t, whole, 1))
            << name;
    }
}

// The reserved name is excluded whatever its kind and the user's patterns. Bare, "!" clears the
// rules and "+ x" includes; as passed they are literal names.
TEST(RsyncExcludeRules, TheReservedNameIsExcludedWhateverItsKind) {
    const std::vector<std::string> literal{"!", "+ x", "x", " lead", "trail ", "- dash", ""};
    for (const Kind kind : {Kind::file, Kind::link, Kind::folder}) {
        for (const std::vector<std::string>& patterns :
             {std::vector<std::string>{}, std::vector<std::string>{"!", "+ .KeltoSync", "+ /.KeltoSync"}, literal}) {
            SCOPED_TRACE(::testing::Message() << static_cast<int>(kind) << " " << patterns.size());
            TemporaryFolder tmp;
            const fs::path src = tmp.path() / "src", dst = tmp.path() / "dst";
            put(src / "a");
            make(src / ".KeltoSync", kind);  // on A: B's archive stays as it is
            if (patterns == literal)
                for (const char* name : {"!", "x", "+ x", "Icon\r", " lead", "trail ", "- dash"}) put(src / name);
            put(dst / archivedPath, "precious");
            RsyncInvocation mirror = invocation(RsyncOperation::mirror(), src, dst);
            mirror.filters.patterns = patterns;
            mirror.filters.useDefaultExcludes = patterns == literal;
            mirror.dryRun = true;
            auto args = RsyncArguments::build(mirror);
            const auto dry = runRealRsync(args);
            ASSERT_EQ(dry.code, 0) << dry.err;
            EXPECT_FALSE(touches(dry, ".KeltoSync")) << dry.out;
            if (patterns == literal) {  // the same patterns as bare --exclude values
                for (auto& a : args)
                    if (a.starts_with("--exclude=- ")) a = "--exclude=" + a.substr(12);
                const auto bare = runRealRsync(args);
                ASSERT_EQ(bare.code, 0) << bare.err;
                ASSERT_TRUE(touches(bare, ".KeltoSync/")) << bare.out;
                ASSERT_TRUE(touches(bare, "x")) << bare.out;
            }
            mirror.dryRun = false;
            const auto real = runRealRsync(RsyncArguments::build(mirror));
            ASSERT_EQ(real.code, 0) << real.err;
            EXPECT_EQ(test::readFile(dst / archivedPath), "precious");
            if (patterns == literal) {
                EXPECT_EQ(test::namesIn(dst), (std::set<std::string>{".KeltoSync", "a"}));
            }
            EXPECT_TRUE(fs::exists(dst / "a"));
            fs::remove_all(src / ".KeltoSync");
            fs::remove_all(dst / ".KeltoSync");
            make(dst / ".KeltoSync", kind);
            const auto again = runRealRsync(RsyncArguments::build(mirror));
            ASSERT_EQ(again.code, 0) << again.err;
            const auto status = fs::symlink_status(dst / ".KeltoSync");
            EXPECT_TRUE(kind == Kind::link ? fs::is_symlink(status)
                        : kind == Kind::folder ? fs::is_directory(status) : fs::is_regular_file(status));
        }
    }
}

TEST_F(TransferScratchTest, DryRunsAndListingsPrintTheSameWithoutTheScratchFolders) {
    putFiles(src, {{"changed", "new content"}, {"sub/new", "fresh"}, {"same", "x"}});
    putFiles(dst, {{"changed", "old"}, {"same", "x"}, {"gone", "x"}});
    putFiles(TransferScratch::partialFolder(dst), {{"changed", "new c"}, {"new", "fr"}});
    put(temporaries(dst) / "changed.Ab12Cd", "n");
    for (RsyncOperation operation : {RsyncOperation::mirror(), RsyncOperation::copy()}) {
        RsyncInvocation plain = invocation(operation, src, dst);
        plain.dryRun = true;
        RsyncInvocation scratch = plain;
        scratch.partialDirectory = TransferScratch::partialFolder(dst);
        scratch.temporaryDirectory = TransferScratch::temporaryRelativePath();
        const RsyncOutput without = runRealRsync(RsyncArguments::build(plain));
        const RsyncOutput with = runRealRsync(RsyncArguments::build(scratch));
        ASSERT_EQ(without.code + with.code, 0) << without.err << with.err;
        EXPECT_NE(without.out.find("changed"), std::string::npos);
        EXPECT_EQ(without.out, with.out);
    }
    RsyncInvocation listing = invocation(RsyncOperation::listOnly(), dst, std::nullopt);
    RsyncInvocation listingWith = listing;
    listingWith.partialDirectory = TransferScratch::partialFolder(dst);
    EXPECT_EQ(runRealRsync(RsyncArguments::build(listing)).out, runRealRsync(RsyncArguments::build(listingWith)).out);
}

TEST_F(TransferScratchTest, OnlyATransferThatWritesFilesGetsScratchFolders) {
    fs::create_directories(temporaries(dst));
    RsyncInvocation transfer = invocation(RsyncOperation::mirror(), src, dst);
    TransferScratch::assign(transfer, dst, {});
    EXPECT_FALSE(transfer.partialDirectory || transfer.temporaryDirectory);
    // A list that may be older than the files a copy job finds gets them anyway.
    RsyncInvocation copy = invocation(RsyncOperation::copy(), src, dst);
    TransferScratch::assign(copy, dst, {}, false);
    EXPECT_TRUE(copy.partialDirectory && copy.temporaryDirectory);
    TransferScratch::assign(transfer, dst, {"file"});
    ASSERT_TRUE(transfer.partialDirectory.has_value());
    EXPECT_TRUE(transfer.partialDirectory->is_absolute());
    EXPECT_EQ(transfer.temporaryDirectory, TransferScratch::temporaryRelativePath());
    // Files too small to resume need no partial folder, which costs a lookup per file compared.
    RsyncInvocation small = invocation(RsyncOperation::mirror(), src, dst);
    TransferScratch::assign(small, dst, {"file"}, true, TransferScratch::resumableSize - 1);
    EXPECT_FALSE(small.partialDirectory);
    EXPECT_EQ(small.temporaryDirectory, TransferScratch::temporaryRelativePath());
    TransferScratch::assign(small, dst, {"file"}, true, TransferScratch::resumableSize);
    EXPECT_TRUE(small.partialDirectory);
    SCOPED_TRACE("AClaimClearsLeftoversOnlyWhenNoOtherRunHoldsTheFolder");
    put(temporaries(dst) / "big.a1B2c3", "half");
    put(tmp / "outside/keep", "keep");
    fs::create_directory_symlink(tmp / "outside", temporaries(dst) / "link");
    fs::create_directories(temporaries(dst) / "folder/inner");
    {
        const TransferScratch::Claim first = TransferScratch::claim(dst);
        EXPECT_TRUE(first.leftovers().empty());
        EXPECT_TRUE(fs::is_empty(temporaries(dst)));
        EXPECT_EQ(test::readFile(tmp / "outside/keep"), "keep");
        put(temporaries(dst) / "inflight.Xy12Zq", "writing");
        const TransferScratch::Claim second = TransferScratch::claim(dst);
        EXPECT_TRUE(fs::exists(temporaries(dst) / "inflight.Xy12Zq"));
    }
    const TransferScratch::Claim later = TransferScratch::claim(dst);
    EXPECT_TRUE(fs::is_empty(temporaries(dst)));
    fs::remove_all(dst / ".KeltoSync");
    EXPECT_THROW(TransferScratch::claim(dst), FileError);  // the reserved tree is made first
}

TEST_F(TransferScratchTest, TransfersIntoSubFoldersLeaveTheScratchFoldersEmpty) {
    put(src / "a/b/deep", "deep");
    put(src / "top", "top");
    put(dst / "top", "old top");
    ArchiveDirectories::prepareTree(dst, Uuid::random(), "2025-03-07_141503-0a1b2c3d");
    RsyncInvocation transfer = invocation(RsyncOperation::mirror(), src, dst);
    transfer.partialDirectory = TransferScratch::partialFolder(dst);
    transfer.temporaryDirectory = TransferScratch::temporaryFolderFor(dst, {"a/b/deep", "top"});
    ASSERT_EQ(transfer.temporaryDirectory, TransferScratch::temporaryRelativePath());
    const RsyncOutput result = runRealRsync(RsyncArguments::build(transfer));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(test::readFile(dst / "a/b/deep") + test::readFile(dst / "top"), "deeptop");
    EXPECT_TRUE(fs::is_empty(temporaries(dst)) && fs::is_empty(TransferScratch::partialFolder(dst)));
    SCOPED_TRACE("NoTemporaryFolderForFilesOnAnotherMount");
    put(dst / "here/file");
    fs::create_directories(temporaries(dst));
    fs::create_directories(dst / "elsewhere");
    test::TestMounts mounts;
    if (!mounts.tmpfs(dst / "elsewhere")) GTEST_SKIP() << "mounting a tmpfs needs root";
    fs::create_directories(dst / "elsewhere/inner");
    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"top", "here/file", "here/new/deeper/file"}),
              TransferScratch::temporaryRelativePath());
    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"here/file", "elsewhere/inner/file"}), std::nullopt);
    // A folder the transfer makes lands on its nearest existing ancestor's mount.
    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"elsewhere/new/file"}), std::nullopt);
    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"elsewhere"}), TransferScratch::temporaryRelativePath());

    put(src / "elsewhere/inner/file", "newer");
    put(dst / "elsewhere/inner/file", "old");
    RsyncInvocation copy = invocation(RsyncOperation::copy(), src, dst);
    copy.partialDirectory = TransferScratch::partialFolder(dst);
    copy.temporaryDirectory = TransferScratch::temporaryFolderFor(dst, {"elsewhere/inner/file"});
    const RsyncOutput copied = runRealRsync(RsyncArguments::build(copy));
    ASSERT_EQ(copied.code, 0) << copied.err;
    EXPECT_EQ(test::readFile(dst / "elsewhere/inner/file"), "newer");
}
