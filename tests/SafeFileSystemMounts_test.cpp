// Moves that must not replace, on the mounts people sync to: shares numbering
// each name afresh (sshfs), FUSE programs passing links on (bindfs), the
// desktop's gvfs mounts and exFAT through FUSE, which keep no links at all;
// and the disks a folder's walk meets through the mounts below it.

#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "tests/support/LocalSshd.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <fstream>
#include <functional>
#include <unistd.h>

using namespace kelto;
using namespace kelto::test;
namespace fs = std::filesystem;
namespace sfs = kelto::SafeFileSystem;

namespace {

std::string read(const fs::path& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Into a folder of the run's own and into the user's tree alike, a move
// takes a free name and never a taken one, both items staying whole.
TEST(SafeFileSystemMounts, MovesTakeFreeNamesAndNeverReplaceOnEveryMount) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    TemporaryFolder tmp;
    TestMounts mounts;
    std::string whyNot;
    const std::unique_ptr<LocalSshd> sshd = LocalSshd::start(tmp / "sshd", whyNot);
    const std::vector<std::pair<std::string, std::function<bool(const fs::path&, const fs::path&)>>> kinds{
        {"sshfs", [&](const fs::path& folder, const fs::path& at) { return sshd && mounts.mount(sshd->sshfs(folder, at), at); }},
        {"bindfs", [&](const fs::path& folder, const fs::path& at) { return mounts.passThrough(folder, at); }},
        {"gvfs", [&](const fs::path& folder, const fs::path& at) {
             return mounts.mount({"unionfs", "-o", "fsname=gvfsd-fuse,subtype=gvfsd-fuse", folder.native() + "=RW",
                                  at.native()},
                                 at);
         }},
        {"exfat", [&](const fs::path&, const fs::path& at) { return mounts.exfat(at.native() + ".img", at); }},
    };
    for (const auto& [kind, mount] : kinds) {
        SCOPED_TRACE(kind);
        const fs::path folder = tmp / (kind + "-folder"), at = tmp / kind;
        fs::create_directories(folder);
        fs::create_directories(at);
        if (!mount(folder, at)) {
            ADD_FAILURE() << kind << " could not be mounted " << whyNot;
            continue;
        }
        for (const char* name : {"held", "archive", "tree"}) fs::create_directories(at / name);
        for (const char* name : {"a", "b", "c"}) std::ofstream(at / "held" / name) << name;
        std::ofstream(at / "tree/b") << "the user's";
        std::ofstream(at / "archive/c") << "archived before";
        const sfs::Folder held = *sfs::openRoot(at / "held"), archive = *sfs::openRoot(at / "archive"),
                          tree = *sfs::openRoot(at / "tree");

        sfs::moveToFreeName(held, "a", archive, "a", sfs::Writers::thisRunAlone);
        EXPECT_EQ(read(at / "archive/a"), "a");
        sfs::moveToFreeName(archive, "a", tree, "a", sfs::Writers::anyone);
        EXPECT_EQ(read(at / "tree/a"), "a");
        EXPECT_FALSE(fs::exists(at / "held/a"));
        EXPECT_FALSE(fs::exists(at / "archive/a"));

        for (const auto& [to, writers] : {std::pair{&tree, sfs::Writers::anyone}, {&archive, sfs::Writers::thisRunAlone}}) {
            const std::string name = to == &tree ? "b" : "c";
            try {
                sfs::moveToFreeName(held, name, *to, name, writers);
                ADD_FAILURE() << name << " replaced what stood there";
            } catch (const FileError& error) {
                EXPECT_EQ(error.errorNumber(), EEXIST) << error.what();
            }
            EXPECT_EQ(read(at / "held" / name), name);
        }
        EXPECT_EQ(read(at / "tree/b"), "the user's");
        EXPECT_EQ(read(at / "archive/c"), "archived before");
    }
}

// What a walk of a folder meets is its own disk and every one mounted
// below it, however deep: a tmpfs, which keeps no extended attributes,
// mounted inside takes them from the whole folder.
TEST(SafeFileSystemMounts, AFoldersWalkMeetsItsDiskAndEachMountedBelowIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    TemporaryFolder tmp;
    TestMounts mounts;
    fs::create_directories(tmp / "side/deep/in");
    const FileDescriptor top(::open((tmp / "side").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const FileSystemCapabilities own = FileSystemCapabilities::ofOpen(top.get());
    const auto types = [&] {
        std::vector<std::string> out;
        for (const FileSystemCapabilities& disk : FileSystemCapabilities::reachedFrom(tmp / "side")) out.push_back(disk.type);
        return out;
    };
    EXPECT_EQ(types(), std::vector<std::string>{own.type});
    ASSERT_TRUE(mounts.tmpfs(tmp / "side/deep/in"));
    EXPECT_EQ(types(), (std::vector<std::string>{own.type, "tmpfs"}));
    EXPECT_EQ(FileSystemCapabilities::reachedFrom(tmp / "side/deep/in").front().type, "tmpfs");
}

}  // namespace
