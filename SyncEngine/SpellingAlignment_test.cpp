#include "SyncEngine/SpellingAlignment.h"

#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <set>

using namespace kelto;
using kelto::test::namesIn;
namespace fs = std::filesystem;

namespace {

const std::string nfdE = "e\xCC\x81", nfcE = "\xC3\xA9";
using Names = std::set<std::string>;

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

TEST_F(SpellingAlignmentTest, RenamesEachComponentToTheDesiredBytesAndALinkItselfNotItsTarget) {
    folder.write("caf" + nfdE + "/Sub/photo.JPG");
    const std::string desired = "caf" + nfcE + "/sub/Photo.jpg";
    SpellingAlignment::align(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    EXPECT_EQ(namesIn(root), Names{"caf" + nfcE});
    EXPECT_EQ(namesIn(root / ("caf" + nfcE)), Names{"sub"});
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), Names{"Photo.jpg"});
    // Done already: every component is found under its wanted spelling.
    SpellingAlignment::align(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    SpellingAlignment::align("caf" + nfcE + "//sub/Photo.jpg", desired, root);
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), Names{"Photo.jpg"});
    // A link is renamed itself, not its target.
    folder.write("target");
    fs::create_symlink("target", root / "lnk");
    SpellingAlignment::align("LNK", "lnk", root);
    EXPECT_EQ(namesIn(root), (Names{"LNK", "caf" + nfcE, "target"}));
    EXPECT_TRUE(fs::is_symlink(root / "LNK"));
}

TEST_F(SpellingAlignmentTest, NeverReplacesAnotherItem) {
    fs::create_directories(root / "Docs");
    folder.write("docs/photo.JPG");
    EXPECT_EQ(alignErrno("Docs/Photo.jpg", "docs/photo.JPG", root), EEXIST);
    EXPECT_EQ(namesIn(root), (Names{"Docs", "docs"}));
    EXPECT_EQ(namesIn(root / "docs"), Names{"photo.JPG"});
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
    const test::TemporaryFolder elsewhere;
    elsewhere.write("x");
    fs::create_directory_symlink(elsewhere.path(), root / "link");
    EXPECT_EQ(unsafePath("link/X", "link/x"), "link/x");
    EXPECT_EQ(namesIn(elsewhere.path()), Names{"x"});
}

TEST(SpellingAlignmentCaseInsensitive, RenamesTheOneItemToTheWantedCase) {
    test::TemporaryFolder holder;
    const fs::path root = holder / "mnt";
    fs::create_directory(root);
    test::TestMounts mounts;
    if (!mounts.exfat(holder / "image", root)) GTEST_SKIP() << "no exFAT volume can be mounted here";
    holder.write("mnt/docs/photo.JPG");
    SpellingAlignment::align("Docs/Photo.jpg", "docs/photo.JPG", root);
    EXPECT_EQ(namesIn(root), Names{"Docs"});
    EXPECT_EQ(namesIn(root / "Docs"), Names{"Photo.jpg"});
    EXPECT_EQ(test::readFile(root / "Docs/Photo.jpg"), "x");
}

}  // namespace
