#include "SyncEngine/internal/OverlapMarkers.h"

#include "SyncEngine/CancellationError.h"
#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/TwoWayEngine.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "SyncEngine/internal/EndpointCheck.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/NoMountOverlap.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <utility>
#include <vector>

using namespace kelto;
using test::TemporaryFolder;
namespace fs = std::filesystem;

namespace {

// A marker's name but for its side's letter, as another (or a killed) run placed it.
const std::string anotherRuns = std::string(OverlapMarkers::prefix) + "0B5E7C1A-3D2F-4E6B-9A8C-1F2E3D4C5B6A";

std::vector<std::string> markersIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename().native().starts_with(OverlapMarkers::prefix))
            names.push_back(entry.path().filename().native());
    return names;
}

std::pair<long, long> modified(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return {info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

void setModified(const fs::path& path, long seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

// Mounts that never overlap; where a walk meets `folder`, a lookup at `lookup` (else the folder) alone, or
// at each of its folders where `throughout`.
TreeOverlap lookingAt(const fs::path& folder, bool throughout, const fs::path& lookup = {}) {
    return TreeOverlap([](const fs::path&, const fs::path&) { return false; }, nullptr, [=](const fs::path& at) {
        return at == folder ? std::vector<TreeOverlap::Lookup>{{lookup.empty() ? folder : lookup, throughout}}
                            : std::vector<TreeOverlap::Lookup>{};
    });
}

// A side without a reserved folder holds its marker at its top.
TEST(OverlapMarkers, EachSideHoldsOneWhileTheyLastAndNothingIsLeftNorAnyTimeChanged) {
    TemporaryFolder tmp;
    const fs::path a = tmp / "a", b = tmp / "b";
    fs::create_directories(a);
    fs::create_directories(b / ".KeltoSync/Archive");
    for (const fs::path& folder : {a, b, b / ".KeltoSync"}) setModified(folder, 1'000'000);
    {
        const OverlapMarkers markers(a, b, {}, test::noMountOverlap());
        const std::vector<std::string> onA = markersIn(a), onB = markersIn(b / ".KeltoSync");
        ASSERT_EQ(onA.size(), 1u);
        ASSERT_EQ(onB.size(), 1u);
        EXPECT_NE(onA, onB);
        EXPECT_FALSE(fs::exists(a / ".KeltoSync"));
        // What a walk of either side sees: the tops untouched.
        EXPECT_EQ(modified(a), std::pair(1'000'000L, 0L));
        EXPECT_EQ(modified(b), std::pair(1'000'000L, 0L));
        using Walk = OverlapMarkers::Walk;
        EXPECT_FALSE(markers.catches(".KeltoSync/Archive/", Walk::b));
        // Another run's: left out, showing nothing.
        EXPECT_TRUE(markers.catches("x/" + anotherRuns + "-A", Walk::b));
        EXPECT_FALSE(markers.seen());
        EXPECT_TRUE(markers.catches(onA.front(), Walk::a));  // A's own, at A's top
        EXPECT_FALSE(markers.seen());
        EXPECT_TRUE(markers.catches("inner/" + onA.front(), Walk::b));
        EXPECT_TRUE(markers.seen());
    }
    for (const auto& [path, walk] : {std::pair{std::string("inner/.KeltoSync/"), OverlapMarkers::Walk::a},
                                     std::pair{std::string(), OverlapMarkers::Walk::b},
                                     std::pair{std::string(), OverlapMarkers::Walk::a}}) {
        const OverlapMarkers markers(a, b, {}, test::noMountOverlap());
        const std::string nameOnB = markersIn(b / ".KeltoSync").front(), nameOnA = markersIn(a).front();
        // B's marker met by A's walk, anywhere; A's at the top of B's walk.
        markers.catches(path + (walk == OverlapMarkers::Walk::a ? nameOnB : nameOnA), walk);
        EXPECT_TRUE(markers.seen()) << path;
    }
    EXPECT_EQ(test::namesIn(a), std::set<std::string>{});
    EXPECT_EQ(test::namesIn(b / ".KeltoSync"), std::set<std::string>{"Archive"});
    for (const fs::path& folder : {a, b, b / ".KeltoSync"})
        EXPECT_EQ(modified(folder), std::pair(1'000'000L, 0L)) << folder;
    // One a killed process left is cleared; one another run still holds is not; the user's own files stay.
    SCOPED_TRACE("AUsersFileNamedLikeAMarkerIsNeitherClearedNorLeftOut");
    const std::string left = anotherRuns + "-A", prefix(OverlapMarkers::prefix);
    const std::vector<std::string> users{prefix + "notes.txt", prefix + "x-A", prefix + "0B5E7C1A-3D2F-4E6B-9A8C-1F2E3D4C5B6A",
                                         anotherRuns + "-C"};
    for (const std::string& name : users) {
        tmp.write("a/" + name, "mine");
        tmp.write("b/.KeltoSync/" + name, "");
    }
    tmp.write("a/" + left, "holds data");
    tmp.write("b/.KeltoSync/" + left, "");
    tmp.write("b/" + anotherRuns + "-B", "");
    tmp.write("b/.KeltoSync/Marker of the user.txt", "kept");
    setModified(b, 1'000'000);
    fs::create_directories(tmp / "c");
    const OverlapMarkers held(tmp / "c", b, {}, test::noMountOverlap());
    {
        const OverlapMarkers markers(a, b, {}, test::noMountOverlap());
        for (const std::string& name : users)
            EXPECT_FALSE(markers.catches("x/" + name, OverlapMarkers::Walk::a)) << name;
    }
    EXPECT_TRUE(markersIn(b).empty());
    EXPECT_EQ(modified(b), std::pair(1'000'000L, 0L));
    std::set<std::string> onA(users.begin(), users.end()), onB = onA;
    onA.insert(left);
    onB.insert({"Archive", "Marker of the user.txt", held.names().at(1)});
    EXPECT_EQ(test::namesIn(a), onA);
    EXPECT_EQ(test::namesIn(b / ".KeltoSync"), onB);
}

TEST(OverlapMarkers, ASideNoMarkerCanBePlacedOnIsNamedAndTheOtherSideIsStillMarked) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount a folder read-only";
    TemporaryFolder tmp;
    const fs::path a = tmp / "a", b = tmp / "b";
    for (const fs::path& folder : {a, b}) fs::create_directories(folder);
    test::TestMounts mounts;  // undone before the folder goes
    ASSERT_TRUE(mounts.mount({"mount", "--bind", "-o", "ro", a.native(), a.native()}, a));
    std::vector<std::string> notes;
    {
        const OverlapMarkers markers(a, b, {}, test::noMountOverlap([&](std::string_view l) { notes.emplace_back(l); }));
        EXPECT_EQ(markersIn(b).size(), 1u);
    }
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes.front(), "No marker could be placed in " + a.native() +
                                 " (Read-only file system): only the mounts tell whether the folders reach each other");
}

// Where a side's tree holds a mount, the other side's marker is looked up there; where only the markers
// place a side, each of its folders is.
TEST(OverlapMarkers, WhereOnlyTheMarkersPlaceASideEachOfItsFoldersIsLookedUp) {
    TemporaryFolder tmp;
    const fs::path a = tmp / "a", b = tmp / "a/x/y/b";
    fs::create_directories(b);
    fs::create_directories(tmp / "c");
    for (const bool reservedB : {false, true}) {
        if (reservedB) fs::create_directories(b / ".KeltoSync");
        for (const bool throughout : {false, true}) {
            const TreeOverlap overlap = lookingAt(a, throughout);
            EXPECT_EQ(OverlapMarkers(a, b, {}, overlap).seen(), throughout) << reservedB;
            EXPECT_FALSE(OverlapMarkers(a, tmp / "c", {}, overlap).seen());
        }
    }
    const TreeOverlap unmarked([](const fs::path&, const fs::path&) { return false; }, nullptr,
                               [](const fs::path& folder) { return std::vector<TreeOverlap::Lookup>{{folder, true}}; });
    EXPECT_THROW(OverlapMarkers(a, tmp / "missing", FilterSet{}, unmarked), FileError);
    EXPECT_EQ(markersIn(a).size(), 0u);
    fs::create_directory_symlink(tmp / "c", a / "inner");
    EXPECT_FALSE(OverlapMarkers(a, tmp / "c", {}, lookingAt(tmp / "elsewhere", false)).seen());
    EXPECT_TRUE(OverlapMarkers(a, tmp / "c", {}, lookingAt(a, false, a / "inner")).seen());
}

// A lookup that runs out of descriptors refuses; one a stop ended tells nothing.
TEST(OverlapMarkers, ALookupThatCannotGoOnRefuses) {
    TemporaryFolder tmp;
    const fs::path a = tmp / "a";
    fs::path b = a;
    for (int level = 0; level < 64; ++level) b /= "d";
    fs::create_directories(b);
    const TreeOverlap overlap = lookingAt(a, true);
    long open = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++open;
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &was), 0);
    rlimit few = was;
    few.rlim_cur = static_cast<rlim_t>(open + 16);  // runs out a few folders down
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &few), 0);
    bool seen = false, refused = false;
    try {
        seen = OverlapMarkers(a, b, {}, overlap).seen();
    } catch (const FileError&) {
        refused = true;
    }
    ::setrlimit(RLIMIT_NOFILE, &was);
    EXPECT_TRUE(seen || refused);
    EXPECT_EQ(markersIn(a).size(), 0u);
    EXPECT_EQ(markersIn(b).size(), 0u);
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(OverlapMarkers(a, b, {}, overlap, stopped.get_token()).seen(), CancellationError);
}

TEST(OverlapMarkers, FiltersThatMayHideTheReservedFolderBelowTheTopKeepTheMarkersAtTheTops) {
    TemporaryFolder tmp;
    fs::create_directories(tmp / "a/.KeltoSync");
    fs::create_directories(tmp / "b/.KeltoSync");
    for (const auto& [patterns, atTops] :
         {std::pair{std::vector<std::string>{"*.tmp", "/.KeltoSync", "*Marker*", "node_modules/"}, false},
          std::pair{std::vector<std::string>{".*"}, true}, std::pair{std::vector<std::string>{"photos/.K*/"}, true},
          std::pair{std::vector<std::string>{"x/**"}, true}}) {
        FilterSet filters;
        filters.patterns = patterns;
        std::vector<std::string> notes;
        const OverlapMarkers markers(tmp / "a", tmp / "b", filters,
                                     test::noMountOverlap([&](std::string_view line) { notes.emplace_back(line); }));
        EXPECT_EQ(notes, std::vector<std::string>{}) << patterns.front();
        EXPECT_EQ(markersIn(tmp / "a").size() + markersIn(tmp / "b").size(), atTops ? 2u : 0u) << patterns.front();
        std::multiset<std::string> placed;
        for (const fs::path& folder : {tmp / "a", tmp / "b", tmp / "a/.KeltoSync", tmp / "b/.KeltoSync"})
            for (const std::string& name : markersIn(folder)) placed.insert(name);
        const std::vector<std::string> named = markers.names();
        EXPECT_EQ(std::multiset<std::string>(named.begin(), named.end()), placed);
    }
}

// Each check's verdict in the same words: "ok", "nested", "missing <path>", "reserved <path>", or another case.
std::string sharedVerdict(const fs::path& a, const fs::path& b) {
    const auto fault = EndpointCheck::firstFault(a, b, test::noMountOverlap());
    if (!fault) return "ok";
    switch (fault->kind) {
    case EndpointCheck::Fault::Case::nested: return "nested";
    case EndpointCheck::Fault::Case::missing: return "missing " + fault->folder.native();
    case EndpointCheck::Fault::Case::reservedNotFolder: return "reserved " + fault->folder.native();
    case EndpointCheck::Fault::Case::replaced: return "replaced " + fault->folder.native();
    }
    return "?";
}

std::string oneWayVerdict(const SyncJob& job, const fs::path& a, const fs::path& b) {
    try {
        OneWayEngine::checkEndpoints(job, a, b, test::noMountOverlap());
        return "ok";
    } catch (const OneWayEngineError& error) {
        if (error.code() == OneWayEngineError::Code::nestedEndpoints) return "nested";
        if (error.code() == OneWayEngineError::Code::endpointMissing) return "missing " + error.path().native();
        if (error.code() == OneWayEngineError::Code::reservedNotFolder) return "reserved " + error.path().native();
        return std::string(enumName(error.code()));
    }
}

std::string twoWayVerdict(const SyncJob& job, const fs::path& a, const fs::path& b) {
    try {
        TwoWayEngine::checkEndpoints(job, a, b, test::noMountOverlap());
        return "ok";
    } catch (const TwoWayEngineError& error) {
        switch (error.code()) {
        case TwoWayEngineError::Code::nestedEndpoints: return "nested";
        case TwoWayEngineError::Code::endpointMissing: return "missing " + error.folder().native();
        case TwoWayEngineError::Code::reservedNotFolder: return "reserved " + error.folder().native();
        case TwoWayEngineError::Code::unsupportedMode: return "unsupportedMode";
        case TwoWayEngineError::Code::readOnlyEndpoint: return "readOnlyEndpoint";
        default: return error.what();
        }
    }
}

class EndpointCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp / "x/a/b");
        fs::create_directories(tmp / "x/ab");
        oneWay.mode = SyncMode::mirror;
        twoWay.mode = SyncMode::twoWay;
    }
    // The shared check and both engines agree, and say `expected`.
    void expectVerdict(const fs::path& a, const fs::path& b, const std::string& expected) {
        SCOPED_TRACE(a.native() + " | " + b.native());
        EXPECT_EQ(sharedVerdict(a, b), expected);
        EXPECT_EQ(oneWayVerdict(oneWay, a, b), expected);
        EXPECT_EQ(twoWayVerdict(twoWay, a, b), expected);
    }
    test::TemporaryFolder tmp;
    SyncJob oneWay, twoWay;
};

TEST_F(EndpointCheckTest, FoldersNestedByPathOrMountAreRefusedAndAMissingFolderIsNamedAsGivenSideAFirst) {
    fs::create_directory_symlink(tmp / "x/a", tmp / "alias");
    expectVerdict(tmp / "x/a", tmp / "x/ab", "ok");  // a sibling whose name merely begins the same
    expectVerdict(tmp / "x/a", tmp / "x/a", "nested");
    expectVerdict(tmp / "x/a", tmp / "x/a/b", "nested");
    expectVerdict(tmp / "x/a/b", tmp / "x/a/", "nested");
    expectVerdict(tmp / "alias", tmp / "x/a", "nested");
    expectVerdict(tmp / "x/a", tmp / "alias/b", "nested");
    tmp.write("file");
    fs::create_directory_symlink(tmp / "gone", tmp / "dangling");
    expectVerdict(tmp / "missing", tmp / "x/a", "missing " + (tmp / "missing").native());
    expectVerdict(tmp / "x/a", tmp / "file", "missing " + (tmp / "file").native());
    expectVerdict(tmp / "x/a", tmp / "dangling", "missing " + (tmp / "dangling").native());
    expectVerdict(tmp / "one", tmp / "other", "missing " + (tmp / "one").native());
    // x/a reached a second time at m: no link to resolve, only comparing the folders shows the nesting.
    fs::create_directories(tmp / "x/a/sub");
    fs::create_directories(tmp / "x/other");
    fs::create_directories(tmp / "m");
    test::TestMounts mounts;  // unmounted before the temporary folder goes
    if (!mounts.bind(tmp / "x/a", tmp / "m")) GTEST_SKIP() << "cannot bind-mount here";
    ASSERT_EQ(fs::canonical(tmp / "m/sub"), tmp / "m/sub");
    expectVerdict(tmp / "m", tmp / "x/a", "nested");
    expectVerdict(tmp / "x/a", tmp / "m/sub", "nested");
    expectVerdict(tmp / "m/sub", tmp / "x/a", "nested");
    expectVerdict(tmp / "x/a/sub", tmp / "m", "nested");
    expectVerdict(tmp / "m/sub", tmp / "x/other", "ok");
}

TEST_F(EndpointCheckTest, AReservedNameThatIsNoFolderIsRefusedByBothEnginesSideAFirst) {
    const fs::path a = tmp / "x/a/b", b = tmp / "x/ab";
    fs::create_directories(a / ".KeltoSync/Archive");
    expectVerdict(a, b, "ok");
    tmp.write("x/ab/.KeltoSync", "a file");
    expectVerdict(a, b, "reserved " + (b / ".KeltoSync").native());
    expectVerdict(tmp / "missing", b, "missing " + (tmp / "missing").native());
    expectVerdict(tmp / "x/a", b, "reserved " + (b / ".KeltoSync").native());
    expectVerdict(tmp / "x/ab", tmp / "x/ab", "nested");
    fs::remove_all(a / ".KeltoSync");
    fs::create_directory_symlink(tmp / "x/ab", a / ".KeltoSync");  // a link to a folder is no folder either
    expectVerdict(a, b, "reserved " + (a / ".KeltoSync").native());
    expectVerdict(b, a, "reserved " + (b / ".KeltoSync").native());
    // A side reached through a link of the user's own is looked into.
    fs::create_directory_symlink(a, tmp / "alias");
    fs::remove(b / ".KeltoSync");
    expectVerdict(b, tmp / "alias", "reserved " + (tmp / "alias/.KeltoSync").native());
    SCOPED_TRACE("TwoWayRulesComeAroundTheSharedCheckInOrder");
    // The mode first, before any folder is looked at.
    EXPECT_EQ(twoWayVerdict(oneWay, tmp / "missing", tmp / "x/a"), "unsupportedMode");
    // Nesting before a read-only volume; either side's read-only volume refused.
    twoWay.destination.volume.isReadOnly = true;
    EXPECT_EQ(twoWayVerdict(twoWay, tmp / "x/a", tmp / "x/a/b"), "nested");
    EXPECT_EQ(twoWayVerdict(twoWay, tmp / "x/a", tmp / "x/ab"), "readOnlyEndpoint");
    twoWay.destination.volume.isReadOnly = false;
    twoWay.source.volume.isReadOnly = true;
    EXPECT_EQ(twoWayVerdict(twoWay, tmp / "x/a", tmp / "x/ab"), "readOnlyEndpoint");
    // A one-way job only minds its destination.
    oneWay.source.volume.isReadOnly = true;
    EXPECT_EQ(oneWayVerdict(oneWay, tmp / "x/a", tmp / "x/ab"), "ok");
}

}  // namespace
