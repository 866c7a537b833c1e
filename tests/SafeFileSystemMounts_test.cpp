// Moves, folder identities and baselines on the kinds of mount people sync to.

#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/FolderIdentity.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/SafeFileSystem.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelto;
using namespace kelto::test;
namespace fs = std::filesystem;
namespace sfs = kelto::SafeFileSystem;

namespace {

// The error number an action throws, 0 where it throws none.
int errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const FileError& error) {
        return error.errorNumber();
    }
    return 0;
}

// Mounts each kind of mount people sync to below `tmp` and calls `test` with its folder.
void onEveryMount(const TemporaryFolder& tmp, const std::function<void(const fs::path&)>& test) {
    for (const MountKind kind :
         {MountKind::tmpfs, MountKind::ext4, MountKind::sshfs, MountKind::passThrough, MountKind::desktop, MountKind::exfat}) {
        SCOPED_TRACE(nameOf(kind));
        MountedFolder mounted;
        std::string whyNot;
        const fs::path at = mounted.make(kind, tmp / nameOf(kind), whyNot);
        if (at.empty())
            ADD_FAILURE() << whyNot;
        else
            test(at);
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
            EXPECT_EQ(errorOf([&] { sfs::moveToFreeName(held, name, *to, name, writers); }), EEXIST) << name;
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


TEST(FolderIdentityTest, StaysWhileTheFolderStaysAndChangesWithIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    TemporaryFolder tmp;
    fs::create_directories(tmp / "exfat");
    TestMounts mounts;
    ASSERT_TRUE(mounts.exfat(tmp / "exfat.img", tmp / "exfat"));
    for (const fs::path& root : {tmp.path(), tmp / "exfat"}) {
        SCOPED_TRACE(root.native());
        fs::create_directories(root / "side");
        fs::create_directories(root / "other");
        const std::optional<FolderIdentity> before = FolderIdentity::of(root / "side");
        ASSERT_TRUE(before);
        // The kernel forgets the folder; exFAT through FUSE numbers it anew.
        ::sync();
        std::ofstream("/proc/sys/vm/drop_caches") << "3";
        EXPECT_TRUE(fs::is_directory(root / "other"));
        EXPECT_EQ(FolderIdentity::of(root / "side"), before);
        EXPECT_EQ(FolderIdentity::of(tmp / ".." / tmp.path().filename() / fs::relative(root / "side", tmp.path())),
                  before);
        // Where numbers are kept they tell a new folder; elsewhere the place is kept.
        const bool keepsNumbers = root == tmp.path();
        fs::rename(root / "side", root / "moved");
        EXPECT_EQ(FolderIdentity::of(root / "moved") == before, keepsNumbers);
        EXPECT_FALSE(FolderIdentity::of(root / "side"));
        fs::create_directory(root / "side");
        if (keepsNumbers) {
            EXPECT_NE(FolderIdentity::of(root / "side"), before);
        }
    }
}

// A store's failure names the file and the system's reason, and offers no move aside.
void expectNamed(const std::function<void()>& use, const fs::path& file, int reason) {
    try {
        use();
        ADD_FAILURE() << "no failure";
    } catch (const BaselineStoreError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with("The baseline file " + file.string() + " could not be read or written ("))
            << message;
        EXPECT_NE(message.find(std::strerror(reason)), std::string::npos) << message;
        EXPECT_EQ(message.find("Move it aside"), std::string::npos) << message;
    }
}

const Baseline saved{{"a", {EntryKind::file, 1, 2}}};

// exFAT through FUSE has neither no-replace rename nor hard links: a baseline is made all the same.
TEST(BaselineStoreVolumes, ABaselineIsMadeWhereNoMoveCanRefuseAnExistingName) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    TemporaryFolder folder;
    TestMounts mounts;
    fs::create_directories(folder / "E");
    ASSERT_TRUE(mounts.exfat(folder / "exfat.img", folder / "E"));
    const fs::path file = folder / "E/state/JOB.sqlite";
    BaselineStore(file, false).save(saved, "X", std::nullopt, SideCounts{1, 0});
    EXPECT_TRUE(BaselineStore(file, false).isRecordedFor("X", std::nullopt));
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

// A baseline on a failing disk is named and kept, and loads once the disk is back; on a read-only one too.
TEST(BaselineStoreVolumes, ABaselineOnAFailingDiskIsNamedAndKept) {
    std::string whyNot;
    const std::unique_ptr<Ext4Volume> volume = Ext4Volume::make(whyNot);
    if (!volume) GTEST_SKIP() << whyNot;
    const fs::path file = *volume / "state/JOB.sqlite";
    BaselineStore(file, false).save(saved, "X", std::nullopt, SideCounts{1, 0});
    {
        const FileDescriptor root(::open(volume->path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::uint32_t afterWritingEverything = 0;
        constexpr unsigned long shutDown = _IOR('X', 125, std::uint32_t);
        ASSERT_EQ(::ioctl(root.get(), shutDown, &afterWritingEverything), 0) << std::strerror(errno);
    }
    for (const bool readOnly : {true, false})
        expectNamed([&] { BaselineStore(file, readOnly).load("X", std::nullopt); }, file, EIO);
    ASSERT_TRUE(volume->remountElsewhere());
    const fs::path moved = *volume / "state/JOB.sqlite";
    EXPECT_EQ(BaselineStore(moved, true).load("X", std::nullopt), saved);
    TestMounts mounts;
    ASSERT_TRUE(mounts.mount({"mount", "-o", "bind,ro", moved.parent_path().native(), moved.parent_path().native()},
                             moved.parent_path()));
    expectNamed([&] { BaselineStore(moved, false).save(Baseline{}, "X", std::nullopt, SideCounts{0, 0}); }, moved, EROFS);
    EXPECT_EQ(BaselineStore(moved, true).load("X", std::nullopt), saved);
}

}  // namespace
