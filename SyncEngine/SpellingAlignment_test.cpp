#include "SyncEngine/SpellingAlignment.h"

#include "SyncEngine/TwoWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

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

// ---- A volume that ignores case ----

// Mounts a small case-insensitive file system when this machine allows it
// (root, loop devices, and vfat or ext4 with case folding in the kernel, or
// exFAT through FUSE).
class CaseInsensitiveVolume {
public:
    CaseInsensitiveVolume() {
        if (::geteuid() != 0) {
            reason_ = "needs root to mount a loop image";
            return;
        }
        base_ = holder_.path();
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
        if (folder_.empty() && mounted_) mounted_ = !sh("umount '" + mnt + "'");
        // Kernels without either still take exFAT through FUSE, which numbers
        // each name it is asked for as an item of its own.
        if (folder_.empty() && !mounted_ && sh("mkfs.exfat '" + img + "'")) {
            if (FILE* out = ::popen(("losetup --find --show '" + img + "' 2>/dev/null").c_str(), "r")) {
                char device[64] = {};
                if (std::fgets(device, sizeof device, out)) device_ = std::string(device, std::strcspn(device, "\n"));
                ::pclose(out);
            }
            if (!device_.empty() && sh("mount.exfat-fuse '" + device_ + "' '" + mnt + "'")) {
                mounted_ = true;
                folder_ = base_ / "mnt";
            }
        }
        if (folder_.empty() || !ignoresCase()) {
            reason_ = "no case-insensitive volume can be mounted here (needs vfat, ext4 case folding or exfat-fuse)";
            folder_.clear();
        }
    }
    ~CaseInsensitiveVolume() {
        if (mounted_) sh("umount '" + (base_ / "mnt").string() + "'");
        if (!device_.empty()) sh("losetup --detach '" + device_ + "'");
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
    test::TemporaryFolder holder_;  // removed after the unmount
    fs::path base_, image_, folder_;
    std::string device_;  // the loop device FUSE reads
    bool mounted_ = false;
    std::string reason_;
};

TEST(SpellingAlignmentCaseInsensitive, RenamesTheOneItemToTheWantedCase) {
    CaseInsensitiveVolume volume;
    if (volume.folder().empty()) GTEST_SKIP() << volume.reason();
    const fs::path& root = volume.folder();
    fs::create_directories(root / "docs");
    write(root / "docs" / "photo.JPG", "x");
    SpellingAlignment::align("Docs/Photo.jpg", "docs/photo.JPG", root);
    EXPECT_EQ(namesIn(root), (std::set<std::string>{"Docs"}));
    EXPECT_EQ(namesIn(root / "Docs"), (std::set<std::string>{"Photo.jpg"}));
    std::ifstream in(root / "Docs" / "Photo.jpg");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "x");
}

}  // namespace
