#include "SyncEngine/internal/EndpointCheck.h"

#include "SyncEngine/OneWayEngine.h"
#include "SyncEngine/TwoWayEngine.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "tests/support/NoMountOverlap.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <unistd.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

// Each check's verdict in the same words: "ok", "nested", "missing <path>",
// "reserved <path>", or the engine's other case.
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
}

TEST_F(EndpointCheckTest, TwoWayRulesComeAroundTheSharedCheckInOrder) {
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
