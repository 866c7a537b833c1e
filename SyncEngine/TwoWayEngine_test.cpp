#include "SyncEngine/TwoWayEngine.h"

#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

const std::string nfdE = "e\xCC\x81";
const std::string nfcE = "\xC3\xA9";

fs::path uniqueFolder(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return fs::temp_directory_path() / ("kelto-twoway-" + std::to_string(::getpid()) + "-" + info->name() + tag);
}

void write(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

void setMtime(const fs::path& path, std::int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Names exactly as stored: readdir, never a look-up that a volume could fold.
std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

int alignErrno(std::string_view desired, std::string_view actual, const fs::path& root) {
    try {
        TwoWayEngine::alignSpelling(desired, actual, root);
        return 0;
    } catch (const FileError& error) {
        return error.errorNumber();
    }
}

class TwoWayEngineFiles : public ::testing::Test {
protected:
    void SetUp() override {
        root = uniqueFolder("");
        fs::remove_all(root);
        fs::create_directories(root);
    }
    void TearDown() override { fs::remove_all(root); }
    fs::path root;
};

TEST_F(TwoWayEngineFiles, AlignmentRenamesEachComponentToTheDesiredBytes) {
    fs::create_directories(root / ("caf" + nfdE) / "Sub");
    write(root / ("caf" + nfdE) / "Sub" / "photo.JPG", "x");

    const std::string desired = "caf" + nfcE + "/sub/Photo.jpg";
    TwoWayEngine::alignSpelling(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"caf" + nfcE}));
    EXPECT_EQ(namesIn(root / ("caf" + nfcE)), (std::set<std::string>{"sub"}));
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), (std::set<std::string>{"Photo.jpg"}));

    // Done already: every component is found under its wanted spelling.
    TwoWayEngine::alignSpelling(desired, "caf" + nfdE + "/Sub/photo.JPG", root);
    TwoWayEngine::alignSpelling("caf" + nfcE + "//sub/Photo.jpg", desired, root);
    EXPECT_EQ(namesIn(root / ("caf" + nfcE) / "sub"), (std::set<std::string>{"Photo.jpg"}));
}

TEST_F(TwoWayEngineFiles, AlignmentNeverReplacesAnotherItem) {
    fs::create_directories(root / "Docs");
    fs::create_directories(root / "docs");
    write(root / "docs" / "photo.JPG", "x");
    EXPECT_EQ(alignErrno("Docs/Photo.jpg", "docs/photo.JPG", root), EEXIST);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"Docs", "docs"}));
    EXPECT_EQ(namesIn(root / "docs"), (std::set<std::string>{"photo.JPG"}));

    // Gone under both spellings.
    EXPECT_EQ(alignErrno("Nothing", "nothing", root), EEXIST);
}

TEST_F(TwoWayEngineFiles, AlignmentRefusesUnsafePaths) {
    auto unsafePath = [&](std::string_view desired, std::string_view actual) -> std::string {
        try {
            TwoWayEngine::alignSpelling(desired, actual, root);
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
    const fs::path elsewhere = uniqueFolder("-elsewhere");
    fs::create_directories(elsewhere);
    write(elsewhere / "x", "outside");
    fs::create_directory_symlink(elsewhere, root / "link");
    EXPECT_EQ(unsafePath("link/X", "link/x"), "link/x");
    EXPECT_EQ(namesIn(elsewhere), (std::set<std::string>{"x"}));
    fs::remove_all(elsewhere);
}

TEST_F(TwoWayEngineFiles, AlignmentRenamesALinkItselfNotItsTarget) {
    write(root / "target", "t");
    fs::create_symlink("target", root / "lnk");
    TwoWayEngine::alignSpelling("LNK", "lnk", root);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"LNK", "target"}));
    EXPECT_TRUE(fs::is_symlink(root / "LNK"));
}

TEST_F(TwoWayEngineFiles, UnchangedCheckComparesKindTimeAndSizeWithoutFollowingLinks) {
    write(root / "f", "12345");
    setMtime(root / "f", 1000);
    fs::create_directories(root / "d");
    setMtime(root / "d", 2000);
    fs::create_symlink("f", root / "l");
    setMtime(root / "l", 3000);

    const SideEntry file{"f", EntryKind::file, 5, 1000};
    const SideEntry folder{"d", EntryKind::directory, 4096, 2000};
    const SideEntry link{"l", EntryKind::symlink, 1, 3000};
    EXPECT_TRUE(TwoWayEngine::isUnchanged(file, root));
    EXPECT_TRUE(TwoWayEngine::isUnchanged(SideEntry{"d", EntryKind::directory, 1, 2000}, root));  // size ignored
    EXPECT_TRUE(TwoWayEngine::isUnchanged(link, root));

    EXPECT_FALSE(TwoWayEngine::isUnchanged(SideEntry{"f", EntryKind::file, 5, 1001}, root));
    EXPECT_FALSE(TwoWayEngine::isUnchanged(SideEntry{"f", EntryKind::file, 6, 1000}, root));
    EXPECT_FALSE(TwoWayEngine::isUnchanged(SideEntry{"l", EntryKind::file, 5, 1000}, root));  // the link, not its target
    EXPECT_FALSE(TwoWayEngine::isUnchanged(SideEntry{"missing", EntryKind::file, 5, 1000}, root));
    EXPECT_FALSE(TwoWayEngine::isUnchanged(SideEntry{"../f", EntryKind::file, 5, 1000}, root));

    // The same entry seen through a symbolic-link folder is refused.
    fs::create_directory_symlink(root / "d", root / "dl");
    write(root / "d" / "g", "1");
    setMtime(root / "d" / "g", 5);
    EXPECT_TRUE(TwoWayEngine::isUnchanged(SideEntry{"d/g", EntryKind::file, 1, 5}, root));
    EXPECT_FALSE(TwoWayEngine::isUnchanged(SideEntry{"dl/g", EntryKind::file, 1, 5}, root));

    // A file that became a folder.
    fs::remove(root / "f");
    fs::create_directories(root / "f");
    setMtime(root / "f", 1000);
    EXPECT_FALSE(TwoWayEngine::isUnchanged(file, root));
}

TEST(TwoWayEngine, FileCountLeavesOutFolders) {
    std::vector<SideEntry> entries{{"l", EntryKind::symlink, 0, 0}};
    for (const char* name : {"a", "b", "c"}) entries.push_back({name, EntryKind::directory, 0, 0});
    for (const char* name : {"1", "2", "3", "4", "5"}) entries.push_back({name, EntryKind::file, 0, 0});
    EXPECT_EQ(TwoWayEngine::fileCount(SideListing(entries)), 6);
}

TEST(TwoWayEngine, PathOrAncestorMatchesWholeComponentsOnly) {
    EXPECT_TRUE(TwoWayEngine::isPathOrAncestor("a/b/c", PathKeySet{"a"}));
    EXPECT_TRUE(TwoWayEngine::isPathOrAncestor("a/b/c", PathKeySet{"a/b"}));
    EXPECT_TRUE(TwoWayEngine::isPathOrAncestor("a/b/c", PathKeySet{"a/b/c"}));
    EXPECT_FALSE(TwoWayEngine::isPathOrAncestor("a/b/c", PathKeySet{"a/bc", "b", "a/b/c/d"}));
    EXPECT_FALSE(TwoWayEngine::isPathOrAncestor("", PathKeySet{"a"}));
}

// ---- A volume that ignores case ----

// Mounts a small case-insensitive file system when this machine allows it
// (root, loop devices, and vfat or ext4 with case folding in the kernel).
class CaseInsensitiveVolume {
public:
    CaseInsensitiveVolume() {
        if (::geteuid() != 0) {
            reason_ = "needs root to mount a loop image";
            return;
        }
        base_ = uniqueFolder("-volume");
        fs::create_directories(base_ / "mnt");
        image_ = base_ / "image";
        const std::string img = image_.string(), mnt = (base_ / "mnt").string();
        if (sh("truncate -s 64M '" + img + "'") && sh("command -v mkfs.vfat") && sh("mkfs.vfat '" + img + "'") &&
            sh("mount -o loop '" + img + "' '" + mnt + "'")) {
            mounted_ = true;
            folder_ = base_ / "mnt";
        } else if (sh("mkfs.ext4 -q -F -O casefold '" + img + "'") && sh("mount -o loop '" + img + "' '" + mnt + "'")) {
            mounted_ = true;
            folder_ = base_ / "mnt" / "cf";
            fs::create_directories(folder_);
            if (!sh("chattr +F '" + folder_.string() + "'")) folder_.clear();
        }
        if (folder_.empty() || !ignoresCase()) {
            reason_ = "no case-insensitive volume can be mounted here (needs vfat or ext4 case folding in the kernel)";
            folder_.clear();
        }
    }
    ~CaseInsensitiveVolume() {
        if (mounted_) sh("umount '" + (base_ / "mnt").string() + "'");
        if (!base_.empty()) fs::remove_all(base_);
    }
    const fs::path& folder() const { return folder_; }
    const std::string& reason() const { return reason_; }

private:
    static bool sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }
    bool ignoresCase() const {
        write(folder_ / "Probe", "");
        struct stat info {};
        const bool folded = ::lstat((folder_ / "PROBE").c_str(), &info) == 0;
        fs::remove(folder_ / "Probe");
        return folded;
    }

    fs::path base_, image_, folder_;
    bool mounted_ = false;
    std::string reason_;
};

TEST(TwoWayEngineCaseInsensitive, AlignmentRenamesTheOneItemToTheWantedCase) {
    CaseInsensitiveVolume volume;
    if (volume.folder().empty()) GTEST_SKIP() << volume.reason();
    const fs::path& root = volume.folder();
    fs::create_directories(root / "docs");
    write(root / "docs" / "photo.JPG", "x");

    TwoWayEngine::alignSpelling("Docs/Photo.jpg", "docs/photo.JPG", root);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"Docs"}));
    EXPECT_EQ(namesIn(root / "Docs"), (std::set<std::string>{"Photo.jpg"}));
    std::ifstream in(root / "Docs" / "Photo.jpg");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "x");
}

}  // namespace
