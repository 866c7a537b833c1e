// Moves that must not replace, on every kind of mount people sync to.

#include "SyncEngine/FolderIdentity.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "tests/support/LocalSshd.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelto;
using namespace kelto::test;
namespace fs = std::filesystem;
namespace sfs = kelto::SafeFileSystem;

namespace {

// Mounts each kind of mount people sync to below `tmp` (showing a folder where it shows one) and calls
// `test` with its mount point.
void onEveryMount(const TemporaryFolder& tmp, const std::function<void(const fs::path&)>& test) {
    TestMounts mounts;
    std::string whyNot;
    const std::unique_ptr<LocalSshd> sshd = LocalSshd::start(tmp / "sshd", whyNot);
    const std::vector<std::pair<std::string, std::function<bool(const fs::path&, const fs::path&)>>> kinds{
        {"tmpfs", [&](const fs::path&, const fs::path& at) { return mounts.tmpfs(at); }},
        {"ext4", [&](const fs::path&, const fs::path& at) { return mounts.ext4Image(at.native() + ".img", at); }},
        {"sshfs", [&](const fs::path& folder, const fs::path& at) { return sshd && mounts.mount(sshd->sshfs(folder, at), at); }},
        {"bindfs", [&](const fs::path& folder, const fs::path& at) { return mounts.passThrough(folder, at); }},
        {"gvfs", [&](const fs::path& folder, const fs::path& at) {
             return mounts.mount({"unionfs", "-o", "fsname=gvfsd-fuse,subtype=gvfsd-fuse", folder.native() + "=RW", at.native()}, at);
         }},
        {"exfat", [&](const fs::path&, const fs::path& at) { return mounts.exfat(at.native() + ".img", at); }}};
    for (const auto& [kind, mount] : kinds) {
        SCOPED_TRACE(kind);
        const fs::path folder = tmp / (kind + "-folder"), at = tmp / kind;
        fs::create_directories(folder);
        fs::create_directories(at);
        if (mount(folder, at))
            test(at);
        else
            ADD_FAILURE() << kind << " could not be mounted " << whyNot;
    }
}

// A move takes a free name, never a taken one; a respelled name stays one item.
TEST(SafeFileSystemMounts, MovesTakeFreeNamesAndNeverReplaceOnEveryMount) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    TemporaryFolder tmp;
    onEveryMount(tmp, [](const fs::path& at) {
        for (const char* name : {"held", "archive", "tree"}) fs::create_directories(at / name);
        for (const char* name : {"a", "b", "c"}) std::ofstream(at / "held" / name) << name;
        std::ofstream(at / "tree/b") << "the user's";
        std::ofstream(at / "archive/c") << "archived before";
        const sfs::Folder held = *sfs::openRoot(at / "held"), archive = *sfs::openRoot(at / "archive"),
                          tree = *sfs::openRoot(at / "tree");
        sfs::moveToFreeName(held, "a", archive, "a", sfs::Writers::thisRunAlone);
        EXPECT_EQ(readFile(at / "archive/a"), "a");
        sfs::moveToFreeName(archive, "a", tree, "a", sfs::Writers::anyone);
        EXPECT_EQ(readFile(at / "tree/a"), "a");
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
            EXPECT_EQ(readFile(at / "held" / name), name);
        }
        EXPECT_EQ(readFile(at / "tree/b"), "the user's");
        EXPECT_EQ(readFile(at / "archive/c"), "archived before");
        std::ofstream(at / "tree/photo.JPG") << "photo";
        sfs::changeSpelling(tree, "photo.JPG", "Photo.jpg");
        const std::vector<std::string> names = sfs::listNames(tree);
        EXPECT_EQ(std::count(names.begin(), names.end(), "Photo.jpg"), 1);
        EXPECT_EQ(std::count(names.begin(), names.end(), "photo.JPG"), 0);
        EXPECT_EQ(FolderIdentity::of(at / "tree")->fileNumber != 0,
                  FileSystemCapabilities::ofOpen(tree.get()).fileNumbersLast);
    });
}

// Makes the kernel answer every rename that refuses to replace with `answer`.
bool answerRenamesThatRefuse(int answer) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),  // the flags' low half
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, RENAME_NOREPLACE, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(answer)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW)};
    const sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// A move asks the no-replace rename first; only EINVAL or EOPNOTSUPP lead to the next way.
TEST(SafeFileSystemMounts, EveryMoveTriesTheRenameThatRefusesToReplaceFirst) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    TemporaryFolder tmp;
    onEveryMount(tmp, [](const fs::path& at) {
        fs::create_directories(at / "tree");
        std::ofstream(at / "tree/item") << "item";
        std::ofstream(at / "tree/taken") << "taken";
        for (const int answer : {EIO, EINVAL, EOPNOTSUPP}) {
            SCOPED_TRACE(answer);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                if (!answerRenamesThatRefuse(answer)) ::_exit(2);
                const sfs::Folder tree = *sfs::openRoot(at / "tree");
                const auto errorOf = [](const std::function<void()>& move) {
                    try {
                        move();
                    } catch (const FileError& error) {
                        return error.errorNumber();
                    }
                    return 0;
                };
                // EIO: a disk that has the rename and failed it.
                const bool failed = answer == EIO;
                bool kept = !failed || errorOf([&] { sfs::moveWithoutReplacing(tree, "item", tree, "moved"); }) == EIO;
                for (const sfs::Writers writers : {sfs::Writers::anyone, sfs::Writers::thisRunAlone}) {
                    const auto move = [&](const char* from, const char* to) {
                        return errorOf([&] { sfs::moveToFreeName(tree, from, tree, to, writers); });
                    };
                    kept = kept && (failed ? move("item", "moved") == EIO && move("item", "taken") == EIO
                                           : move("item", "moved") == 0 && move("moved", "item") == 0 &&
                                                 move("item", "taken") == EEXIST);
                }
                ::_exit(kept && readFile(at / "tree/item") == "item" && readFile(at / "tree/taken") == "taken" ? 0 : 1);
            }
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "no seccomp filter";
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        }
    });
}

// A folder's walk meets its disk and each one mounted below it.
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
