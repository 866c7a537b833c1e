#include "SyncEngine/SpellingAlignment.h"

#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

using namespace kelto;
using kelto::test::namesIn;
namespace fs = std::filesystem;

namespace {

const std::string nfdE = "e\xCC\x81";
const std::string nfcE = "\xC3\xA9";

void write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

int alignErrno(std::string_view desired, std::string_view actual, const fs::path& root) {
    try {
        SpellingAlignment::align(desired, actual, root);
        return 0;
    } catch (const FileError& error) {
        return error.errorNumber();
    }
}

class SpellingAlignmentTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    fs::path root = folder.path();
};

TEST_F(SpellingAlignmentTest, RenamesEachComponentToTheDesiredBytes) {
    fs::create_directories(root / ("caf" + nfdE) / "Sub");
    write(root / ("caf" + nfdE) / "Sub" / "photo.JPG", "x");
    const std::string desired = "caf" + nfcE + "/sub/Photo.jpg";
    SpellingAlignment::align(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"caf" + nfcE}));
    EXPECT_EQ(namesIn(root / ("caf" + nfcE)), (std::set<std::string>{"sub"}));
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), (std::set<std::string>{"Photo.jpg"}));
    // Done already: every component is found under its wanted spelling.
    SpellingAlignment::align(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    SpellingAlignment::align("caf" + nfcE + "//sub/Photo.jpg", desired, root);
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), (std::set<std::string>{"Photo.jpg"}));
}

TEST_F(SpellingAlignmentTest, NeverReplacesAnotherItem) {
    fs::create_directories(root / "Docs");
    fs::create_directories(root / "docs");
    write(root / "docs" / "photo.JPG", "x");
    EXPECT_EQ(alignErrno("Docs/Photo.jpg", "docs/photo.JPG", root), EEXIST);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"Docs", "docs"}));
    EXPECT_EQ(namesIn(root / "docs"), (std::set<std::string>{"photo.JPG"}));
    // Gone under both spellings.
    EXPECT_EQ(alignErrno("Nothing", "nothing", root), EEXIST);
}

TEST_F(SpellingAlignmentTest, RefusesUnsafePaths) {
    auto unsafePath = [&](std::string_view desired, std::string_view actual) -> std::string {
        try {
            SpellingAlignment::align(desired, actual, root);
        } catch (const TwoWayEngineError& error) {
            EXPECT_EQ(error.code(), TwoWayEngineError::Code::unsafePath);
            return error.path();
        }
        return "(no error)";
    };
    EXPECT_EQ(unsafePath("a/b", "a/b/c"), "a/b/c");
    fs::create_directories(root / ".KeltoSync" / "x");
    EXPECT_EQ(unsafePath(".KeltoSync/X", ".KeltoSync/x"), ".KeltoSync/x");
    EXPECT_TRUE(fs::exists(root / ".KeltoSync" / "x"));
    // A symbolic-link folder on the way is never walked through.
    const test::TemporaryFolder outside;
    const fs::path& elsewhere = outside.path();
    write(elsewhere / "x", "outside");
    fs::create_directory_symlink(elsewhere, root / "link");
    EXPECT_EQ(unsafePath("link/X", "link/x"), "link/x");
    EXPECT_EQ(namesIn(elsewhere), (std::set<std::string>{"x"}));
}

TEST_F(SpellingAlignmentTest, RenamesALinkItselfNotItsTarget) {
    write(root / "target", "t");
    fs::create_symlink("target", root / "lnk");
    SpellingAlignment::align("LNK", "lnk", root);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"LNK", "target"}));
    EXPECT_TRUE(fs::is_symlink(root / "LNK"));
}

TEST(SpellingAlignmentCaseInsensitive, RenamesTheOneItemToTheWantedCase) {
    test::TemporaryFolder holder;
    const fs::path root = holder / "mnt";
    fs::create_directory(root);
    test::TestMounts mounts;
    if (!mounts.exfat(holder / "image", root)) GTEST_SKIP() << "no exFAT volume can be mounted here";
    fs::create_directories(root / "docs");
    write(root / "docs" / "photo.JPG", "x");
    SpellingAlignment::align("Docs/Photo.jpg", "docs/photo.JPG", root);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"Docs"}));
    EXPECT_EQ(namesIn(root / "Docs"), (std::set<std::string>{"Photo.jpg"}));
    std::ifstream in(root / "Docs" / "Photo.jpg");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "x");
}

}  // namespace
