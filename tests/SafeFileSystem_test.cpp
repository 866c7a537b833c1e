#include "SyncModel/Support/SafeFileSystem.h"

#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/FolderIdentity.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "tests/TwoWayEngineFixture.h"
#include "tests/support/TestVolumes.h"
#include <gtest/gtest.h>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/fanotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <thread>
#include <tuple>

using namespace kelto;
using namespace kelto::test;
namespace fs = std::filesystem;
namespace sfs = SafeFileSystem;

namespace {

sfs::Folder openRoot(const test::TemporaryFolder& folder) {
    std::optional<sfs::Folder> root = sfs::openRoot(folder.path());
    if (!root) throw std::runtime_error("no temporary folder");
    return std::move(*root);
}

// The FileError an action throws; its error number is 0 when it throws none.
FileError failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const FileError& error) {
        return error;
    }
    return FileError(0, "", "");
}

void expectFailure(const FileError& error, int number, const std::string& operation, const fs::path& path) {
    EXPECT_EQ(error.errorNumber(), number) << error.what();
    EXPECT_EQ(error.operation(), operation);
    EXPECT_EQ(error.path(), path);
    const std::string what = error.what();
    EXPECT_NE(what.find(operation), std::string::npos) << what;
    EXPECT_NE(what.find(path.string()), std::string::npos) << what;
    EXPECT_NE(what.find(std::strerror(number)), std::string::npos) << what;
}

// Folders on two file systems, opened; null where the machine has none (or root is needed and missing).
struct Across {
    test::TemporaryFolder here, there{"/dev/shm"};
    sfs::Folder from = openRoot(here), to = openRoot(there);
};
std::unique_ptr<Across> across(bool needsRoot = false) {
    if ((needsRoot && ::geteuid() != 0) || !fs::is_directory("/dev/shm")) return nullptr;
    auto made = std::make_unique<Across>();
    if (sfs::fileSystemType(made->here.path()) == sfs::fileSystemType(made->there.path())) return nullptr;
    return made;
}

// Runs `body` in a child whose system calls meet `refusing` first, with their number loaded, and are allowed
// where they fall through: 0 where the body holds, 1 where not, 2 where no filter could be set.
int inChildRefusing(std::vector<sock_filter> refusing, const std::function<bool()>& body) {
    const sock_filter loadNumber = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
                      allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    refusing.insert(refusing.begin(), loadNumber);
    refusing.push_back(allow);
    const pid_t child = ::fork();
    if (child == 0) {
        const sock_fprog program{static_cast<unsigned short>(refusing.size()), refusing.data()};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ::_exit(2);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SafeFileSystem, ALinkDeepOnTheWayIsAbsence) {
    test::TemporaryFolder folder, elsewhere;
    for (const char* path : {"dir/file", "dir/sub/file"}) folder.write(path);
    elsewhere.write("inside/file");
    fs::create_directory_symlink(elsewhere.path(), folder / "link");
    fs::create_directory_symlink(elsewhere.path(), folder / "dir/link");
    const sfs::Folder root = openRoot(folder);
    EXPECT_FALSE(sfs::openRoot(folder / "missing"));
    EXPECT_FALSE(sfs::statChild(root, "missing"));
    EXPECT_FALSE(sfs::openChild(root, "link"));
    EXPECT_FALSE(sfs::openPath(root, {"dir", "file"}));
    EXPECT_FALSE(sfs::openPath(root, {"missing", "deeper"}));
    EXPECT_FALSE(sfs::removeFile(root, "missing"));
    EXPECT_FALSE(sfs::removeEmptyFolder(root, "dir"));
    EXPECT_NO_THROW(sfs::removeTree(root, "missing"));
    EXPECT_FALSE(sfs::fileSystemType(folder / "missing"));
    EXPECT_TRUE(sfs::fileSystemType(folder.path()));
    sfs::PathLookup lookup(openRoot(folder));
    ASSERT_TRUE(lookup.stat("dir/file"));
    EXPECT_TRUE(S_ISREG(lookup.stat("dir/file")->st_mode));
    EXPECT_TRUE(S_ISLNK(lookup.stat("link")->st_mode));
    for (const char* absent : {"link/inside", "dir/file/below", "dir/missing", "missing/x"})
        EXPECT_FALSE(lookup.stat(absent)) << absent;
    const std::optional<sfs::Folder> sub = sfs::openPath(root, {"dir", "sub"});
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->path, folder / "dir/sub");
    EXPECT_FALSE(sfs::openPath(root, {"dir", "link"}));
    EXPECT_FALSE(sfs::openPath(root, {"dir", "link", "inside"}));
    EXPECT_FALSE(sfs::PathLookup(openRoot(folder)).stat("dir/link/inside/file"));
    expectFailure(failureOf([&] { sfs::ensurePath(root, {"dir", "link", "inside", "new"}); }), ENOTDIR,
                  "Could not create folder", folder / "dir/link");
    EXPECT_FALSE(fs::exists(elsewhere / "inside/new"));
    {
        SCOPED_TRACE("WithoutOpenat2TheWalkAnswersAlike");
        const int status = inChildRefusing({BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
                                            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS)},
                                           [&] {
                                               sfs::PathLookup lookup(*sfs::openRoot(folder.path()));
                                               const auto sub = sfs::openPath(root, {"dir", "sub"});
                                               return sub && sub->path == folder / "dir/sub" &&
                                                      !sfs::openPath(root, {"dir", "link", "inside"}) &&
                                                      lookup.stat("dir/sub/file") &&
                                                      !lookup.stat("dir/link/inside/file");
                                           });
        if (status != 2) { EXPECT_EQ(status, 0); }  // 2: no seccomp filter here
    }
    // A file system mounted on the way is entered, as the walk enters it.
    fs::create_directories(folder / "dir/mount");
    test::TestMounts mounts;
    if (!mounts.tmpfs(folder / "dir/mount")) GTEST_SKIP() << "no tmpfs";
    folder.write("dir/mount/inner/file");
    const std::optional<sfs::Folder> inner = sfs::openPath(root, {"dir", "mount", "inner"});
    ASSERT_TRUE(inner);
    EXPECT_EQ(inner->path, folder / "dir/mount/inner");
    EXPECT_TRUE(sfs::PathLookup(openRoot(folder)).stat("dir/mount/inner/file"));
}

TEST(SafeFileSystem, PermissionFailuresAreReportedAndRemovalGoesOnPastThem) {
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: permissions deny nothing";
    test::TemporaryFolder folder;
    for (const char* path : {"closed/inner/file", "tree/kept/file", "tree/other/file"}) folder.write(path);
    fs::create_directories(folder / "unreadable");
    fs::permissions(folder / "closed", fs::perms::none);
    fs::permissions(folder / "unreadable", fs::perms::owner_write | fs::perms::owner_exec);
    fs::permissions(folder / "tree/kept", fs::perms::owner_read | fs::perms::owner_exec);
    const sfs::Folder root = openRoot(folder);
    const FileError walk = failureOf([&] { sfs::openPath(root, {"closed", "inner"}); });
    const FileError lookup = failureOf([&] { sfs::PathLookup(openRoot(folder)).stat("closed/inner/file"); });
    const FileError listing = failureOf([&] { sfs::listNames(*sfs::openChild(root, "unreadable")); });
    const FileError removal = failureOf([&] { sfs::removeTree(root, "tree"); });
    const bool otherRemoved = !fs::exists(folder / "tree/other");
    for (const char* path : {"closed", "unreadable", "tree/kept"}) fs::permissions(folder / path, fs::perms::owner_all);
    expectFailure(walk, EACCES, "Could not open folder", folder / "closed/inner");
    expectFailure(lookup, EACCES, "Could not open folder", folder / "closed/inner");
    expectFailure(listing, EACCES, "Could not read folder", folder / "unreadable");
    expectFailure(removal, EACCES, "Could not remove", folder / "tree/kept/file");
    EXPECT_TRUE(otherRemoved);
    EXPECT_TRUE(fs::exists(folder / "tree/kept/file"));
}

// Claiming the destination is the way taken where RENAME_NOREPLACE is refused.
TEST(SafeFileSystem, ClaimingTheDestinationOrChangingASpellingNeverReplaces) {
    test::TemporaryFolder folder;
    const sfs::Folder root = openRoot(folder);
    for (const auto& [name, content] : {std::pair{"file", "new"}, {"taken", "old"}, {"dir/inner", "in"},
                                        {"photo.JPG", "photo"}, {"a", "lower"}, {"A", "upper"}})
        folder.write(name, content);
    fs::create_directory(folder / "emptyTaken");
    fs::create_symlink("nowhere", folder / "link");
    {
        SCOPED_TRACE("SettingAModificationTimeKeepsTheAccessTimeAndTakesALinkAsItself");
        const timespec old[2] = {{100, 0}, {100, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder / "file").c_str(), old, 0), 0);
        EXPECT_TRUE(sfs::setModificationTime(root, "file", {1'000, 5}));
        EXPECT_TRUE(sfs::setModificationTime(root, "link", {2'000, 0}));
        EXPECT_FALSE(sfs::setModificationTime(root, "missing", {3'000, 0}));
        const struct stat file = *sfs::statChild(root, "file");
        EXPECT_EQ(std::tuple(file.st_mtim.tv_sec, file.st_mtim.tv_nsec, file.st_atim.tv_sec),
                  std::tuple(1'000, 5, 100));
        EXPECT_EQ(sfs::statChild(root, "link")->st_mtim.tv_sec, 2'000);
        expectFailure(failureOf([&] { sfs::setModificationTime(root, "..", {0, 0}); }), EINVAL,
                      "Could not set the time of", folder / "..");
    }
    for (const auto& [claim, from, to, error] : std::vector<std::tuple<bool, const char*, const char*, int>>{
             {true, "file", "taken", EEXIST}, {true, "dir", "emptyTaken", EEXIST}, {true, "dir", "taken", EEXIST},
             {true, "file", "file2", 0}, {true, "dir", "dir2", 0}, {true, "link", "link2", 0},
             {false, "photo.JPG", "Photo.jpg", 0}, {false, "a", "A", EEXIST}, {false, "gone", "Gone", ENOENT}}) {
        const auto move = [&] {
            claim ? sfs::moveByClaimingDestination(root, from, root, to) : sfs::changeSpelling(root, from, to);
        };
        EXPECT_EQ(failureOf(move).errorNumber(), error) << from << " to " << to;
    }
    EXPECT_EQ(tree(folder.path()), (Files{{"A", "upper"}, {"Photo.jpg", "photo"}, {"a", "lower"}, {"dir2", "dir/"},
                                          {"dir2/inner", "in"}, {"emptyTaken", "dir/"}, {"file2", "new"},
                                          {"link2", "-> nowhere"}, {"taken", "old"}}));
}

TEST(SafeFileSystem, MovingToAFreeNameCopiesAcrossFileSystems) {
    const auto a = across();
    if (!a) GTEST_SKIP() << "no second file system";
    auto& [here, there, from, to] = *a;
    const std::string big(1 << 20, 'b');
    here.write("big", big);
    here.write("bigdir/a", "a");
    here.write("bigdir/z", big);
    for (const char* name : {"big", "bigdir"}) {
        EXPECT_EXIT(
            {
                rlimit limit{};  // no comma: the block is a macro argument
                limit.rlim_cur = limit.rlim_max = 64 << 10;
                ::setrlimit(RLIMIT_FSIZE, &limit);
                sfs::moveToFreeName(from, name, to, name);
            },
            ::testing::KilledBySignal(SIGXFSZ), "")
            << name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(there / name))) << name;
        // Nor under another name: a file is copied as a nameless one.
        EXPECT_TRUE(std::string(name) != "big" || fs::is_empty(there.path()));
    }
    sfs::moveToFreeName(from, "big", to, "big");
    here.write("dir/inner", "in");
    fs::create_symlink("nowhere", here / "dir/link");
    here.write("file", "new");
    there.write("taken", "old");
    const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (here / "dir/inner").c_str(), times, 0), 0);
    EXPECT_EQ(failureOf([&] { sfs::moveToFreeName(from, "file", to, "taken"); }).errorNumber(), EEXIST);
    sfs::moveToFreeName(from, "dir", to, "dir");
    sfs::moveToFreeName(from, "file", to, "file");
    // What the failed moves left is whole where it was; a killed folder's copy may stand in `there` under a name of
    // its own.
    EXPECT_EQ(tree(here.path()), (Files{{"bigdir", "dir/"}, {"bigdir/a", "a"}, {"bigdir/z", big}}));
    EXPECT_EQ(tree(there / "dir"), (Files{{"inner", "in"}, {"link", "-> nowhere"}}));
    for (const auto& [name, content] : {std::pair{"big", big}, {"file", "new"}, {"taken", "old"}})
        EXPECT_EQ(test::readFile(there / name), content) << name;
    struct stat inner {};
    ASSERT_EQ(::lstat((there / "dir/inner").c_str(), &inner), 0);
    EXPECT_EQ(inner.st_mtim.tv_sec, 1'600'000'000);
    // A file's holes are kept, in its middle and at its end.
    constexpr off_t size = 64 << 20;
    for (const char* name : {"middle", "end"}) {
        {
            const FileDescriptor file(::open((here / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
            ASSERT_TRUE(file.valid());
            ASSERT_EQ(::pwrite(file.get(), "head", 4, 0), 4);
            if (std::string(name) == "middle") ASSERT_EQ(::pwrite(file.get(), "tail", 4, size - 4), 4);
            else ASSERT_EQ(::ftruncate(file.get(), size), 0);
        }
        sfs::moveToFreeName(from, name, to, name);
        struct stat moved {};
        ASSERT_EQ(::stat((there / name).c_str(), &moved), 0);
        EXPECT_EQ(moved.st_size, size) << name;
        EXPECT_LT(moved.st_blocks * 512, 1 << 20) << name;
        const std::string whole = test::readFile(there / name);
        EXPECT_EQ(whole.substr(0, 4), "head") << name;
        EXPECT_EQ(whole.substr(size - 4), std::string(name) == "middle" ? "tail" : std::string(4, '\0')) << name;
    }
}

TEST(SafeFileSystem, AFolderReachedThroughADescriptorIsNamedWhereItLies) {
    test::TemporaryFolder here;
    here.write("dir/file", "data");
    here.write("file");
    here.write("taken", "old");
    const sfs::Folder plain = openRoot(here);
    expectFailure(failureOf([&] { sfs::ensureFolder(plain, "file"); }), ENOTDIR, "Could not create folder", here / "file");
    expectFailure(failureOf([&] { sfs::moveWithoutReplacing(plain, "file", plain, "taken"); }), EEXIST,
                  "Could not rename", here / "file");
    expectFailure(failureOf([&] { sfs::statChild(plain, ".."); }), EINVAL, "Could not inspect", here / "..");
    expectFailure(failureOf([&] { sfs::PathLookup(openRoot(here)).stat("dir/.."); }), EINVAL, "Could not inspect",
                  here / "dir/..");
    EXPECT_EQ(test::readFile(here / "taken"), "old");
    const FileDescriptor held(::open(here.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const std::optional<sfs::Folder> root = sfs::openRoot("/proc/self/fd/" + std::to_string(held.get()));
    ASSERT_TRUE(root);
    const FileError error = failureOf([&] { (void)sfs::openChild(*root, "dir/file"); });
    EXPECT_NE(std::string(error.what()).find(fs::canonical(here.path()).native()), std::string::npos) << error.what();
    EXPECT_EQ(std::string(error.what()).find("/proc/self"), std::string::npos) << error.what();
}

TEST(SafeFileSystem, MovingAcrossFileSystemsKeepsEveryAttributeAndLinkOrFailsNamingIt) {
    const auto a = across(true);
    if (!a) GTEST_SKIP() << "no second file system or not root";
    auto& [here, there, from, to] = *a;
    here.write("dir/file", "data");
    here.write("dir/tool", "#!");
    fs::create_symlink("nowhere", here / "dir/link");
    for (const char* name : {"dir", "dir/tool", "dir/file"}) ASSERT_EQ(::chown((here / name).c_str(), 1234, 4321), 0);
    ASSERT_EQ(::lchown((here / "dir/link").c_str(), 1234, 4321), 0);
    ASSERT_EQ(::chmod((here / "dir/tool").c_str(), 04750), 0);
    ASSERT_EQ(::chmod((here / "dir").c_str(), 0710), 0);
    fs::create_hard_link(here / "dir/file", here / "dir/other");
    ASSERT_EQ(::mkfifo((here / "dir/pipe").c_str(), 0644), 0);
    const std::tuple<const char*, const char*, std::string> attributes[]{{"dir/file", "user.note", "kept"},
        {"dir/link", "trusted.link", "L"}, {"dir/pipe", "trusted.pipe", "P"}, {"dir", "user.folder", "F"}};
    for (const auto& [item, name, value] : attributes)
        ASSERT_EQ(::lsetxattr((here / item).c_str(), name, value.data(), value.size(), 0), 0) << item;
    sfs::moveToFreeName(from, "dir", to, "dir");
    const auto attribute = [](const fs::path& item, const char* name) {
        char value[8] = {};
        return ::lgetxattr(item.c_str(), name, value, sizeof value) < 0 ? std::string("none") : std::string(value);
    };
    for (const auto& [item, name, value] : attributes) EXPECT_EQ(attribute(there / item, name), value) << item;
    EXPECT_EQ(attribute(there / "dir/other", "user.note"), "kept");
    EXPECT_TRUE(fs::equivalent(there / "dir/file", there / "dir/other"));
    for (const auto& [name, mode] : std::vector<std::pair<std::string, mode_t>>{
             {"dir", S_IFDIR | 0710}, {"dir/tool", S_IFREG | 04750}, {"dir/link", S_IFLNK | 0777}, {"dir/file", S_IFREG | 0644}}) {
        struct stat item {};
        ASSERT_EQ(::lstat((there / name).c_str(), &item), 0) << name;
        EXPECT_EQ(std::pair(item.st_uid, item.st_gid), std::pair(1234u, 4321u)) << name;
        EXPECT_EQ(item.st_mode, mode) << name;
    }
    const std::string recorded = ".kelto-copy-0f8fad5b-d9cb-469f-a165-70867728950e";
    const std::string own = ".kelto-copy-7c9e6679-7425-40de-944b-e07fc1f90ae7";
    here.write("ledger/" + recorded, "");
    here.write("recorded/file", "data");
    there.write(recorded + "/half", "half");
    there.write(own, "mine");
    const sfs::Folder ledger = *sfs::openChild(from, "ledger");
    sfs::moveToFreeName(from, "recorded", to, "recorded", sfs::Writers::anyone, &ledger);
    EXPECT_EQ(test::readFile(there / "recorded/file"), "data");
    EXPECT_EQ(sfs::listNames(ledger), std::vector<std::string>{recorded});
    sfs::clearLeftoverCopies(ledger, &to);
    EXPECT_FALSE(fs::exists(there / recorded));
    EXPECT_EQ(test::readFile(there / own), "mine");
    EXPECT_TRUE(sfs::listNames(ledger).empty());
    // ramfs keeps no attributes at all.
    test::TemporaryFolder plain;
    test::TestMounts mounts;
    if (!mounts.mount({"mount", "-t", "ramfs", "ramfs", plain.path()}, plain.path())) GTEST_SKIP() << "no ramfs";
    const sfs::Folder refusing = openRoot(plain);
    for (const auto& [name, file, attributeName] :
         {std::tuple{"file", "file", "user.note"}, {"folder", "folder/file", "user.deep"}}) {
        here.write(file, "data");
        ASSERT_EQ(::setxattr((here / file).c_str(), attributeName, "kept", 4, 0), 0);
        const FileError error = failureOf([&] { sfs::moveToFreeName(from, name, refusing, name); });
        EXPECT_EQ(error.errorNumber(), EOPNOTSUPP) << error.what();
        EXPECT_EQ(error.operation(), std::string("Could not copy the extended attribute ") + attributeName + " of");
        EXPECT_EQ(attribute(here / file, attributeName), "kept");
    }
    EXPECT_TRUE(fs::is_empty(plain.path()));
}

TEST(SafeFileSystem, MovingAcrossFileSystemsLeavesWhatChangedDuringTheCopy) {
    const auto a = across(true);
    if (!a) GTEST_SKIP() << "no second file system or not root";
    auto& [here, there, from, to] = *a;
    for (const char* name : {"a", "b"}) here.write("dir/" + std::string(name), name);
    const FileDescriptor watch(::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY));
    if (!watch.valid()) GTEST_SKIP() << "no fanotify";
    for (const char* name : {"dir/a", "dir/b"})
        ASSERT_EQ(::fanotify_mark(watch.get(), FAN_MARK_ADD, FAN_OPEN_PERM, AT_FDCWD, (here / name).c_str()), 0);
    std::string first;
    std::thread changer([&] {
        for (int opened = 0; opened < 2; ++opened) {
            fanotify_event_metadata event {};
            if (::read(watch.get(), &event, sizeof event) != sizeof event) return;
            const FileDescriptor item(event.fd);
            const std::string name = fs::read_symlink("/proc/self/fd/" + std::to_string(event.fd)).filename();
            if (opened == 0) first = name;
            else {
                here.write("dir/late", "put in meanwhile");
                // Unwatched first: this thread's own opening would wait on itself.
                const std::string changed = (here / ("dir/" + first)).native();
                (void)::fanotify_mark(watch.get(), FAN_MARK_REMOVE, FAN_OPEN_PERM, AT_FDCWD, changed.c_str());
                here.write("dir/" + first, "changed after its copy");
            }
            const fanotify_response allow{event.fd, FAN_ALLOW};
            (void)::write(watch.get(), &allow, sizeof allow);
        }
    });
    EXPECT_EQ(failureOf([&] { sfs::moveToFreeName(from, "dir", to, "dir"); }).errorNumber(), EBUSY);
    changer.join();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(test::readFile(here / "dir/late"), "put in meanwhile");
    EXPECT_EQ(test::readFile(here / ("dir/" + first)), "changed after its copy");
    const std::string second = first == "a" ? "b" : "a";
    EXPECT_FALSE(fs::exists(here / ("dir/" + second)));
    EXPECT_EQ(test::readFile(there / ("dir/" + second)), second);
}

// A move takes a free name, never a taken one; a respelled name stays one item. It asks the no-replace rename
// first; only EINVAL or EOPNOTSUPP lead to the next way.
TEST(SafeFileSystemMounts, MovesTakeFreeNamesAndNeverReplaceOnEveryMount) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to mount";
    TemporaryFolder tmp;
    for (const MountKind kind :
         {MountKind::tmpfs, MountKind::ext4, MountKind::sshfs, MountKind::passThrough, MountKind::desktop, MountKind::exfat}) {
        SCOPED_TRACE(nameOf(kind));
        MountedFolder mounted;
        std::string whyNot;
        const fs::path at = mounted.make(kind, tmp / nameOf(kind), whyNot);
        if (at.empty()) {
            ADD_FAILURE() << whyNot;
            continue;
        }
        for (const char* name : {"held", "archive", "tree"}) fs::create_directories(at / name);
        for (const char* name : {"a", "b", "c"}) std::ofstream(at / "held" / name) << name;
        std::ofstream(at / "tree/b") << "the user's";
        std::ofstream(at / "tree/photo.JPG") << "photo";
        std::ofstream(at / "archive/c") << "archived before";
        const sfs::Folder held = *sfs::openRoot(at / "held"), archive = *sfs::openRoot(at / "archive"),
                          tree = *sfs::openRoot(at / "tree");
        sfs::moveToFreeName(held, "a", archive, "a", sfs::Writers::thisRunAlone);
        sfs::moveToFreeName(archive, "a", tree, "a", sfs::Writers::anyone);
        for (const auto& [to, writers] : {std::pair{&tree, sfs::Writers::anyone}, {&archive, sfs::Writers::thisRunAlone}}) {
            const std::string name = to == &tree ? "b" : "c";
            EXPECT_EQ(failureOf([&] { sfs::moveToFreeName(held, name, *to, name, writers); }).errorNumber(), EEXIST)
                << name;
        }
        sfs::changeSpelling(tree, "photo.JPG", "Photo.jpg");
        EXPECT_EQ(test::tree(at), (Files{{"archive", "dir/"}, {"archive/c", "archived before"}, {"held", "dir/"},
                                         {"held/b", "b"}, {"held/c", "c"}, {"tree", "dir/"},
                                         {"tree/Photo.jpg", "photo"}, {"tree/a", "a"}, {"tree/b", "the user's"}}));
        const bool keepsNumbers = FileSystemCapabilities::ofOpen(tree.get()).fileNumbersLast;
        EXPECT_EQ(FolderIdentity::of(at / "tree")->fileNumber != 0, keepsNumbers);
        {
            SCOPED_TRACE("FolderIdentityTest.StaysWhileTheFolderStaysAndChangesWithIt");
            for (const char* name : {"side", "other"}) fs::create_directories(at / name);
            const std::optional<FolderIdentity> before = FolderIdentity::of(at / "side");
            ASSERT_TRUE(before);
            // The kernel forgets the folder; exFAT through FUSE numbers it anew.
            ::sync();
            std::ofstream("/proc/sys/vm/drop_caches") << "3";
            EXPECT_TRUE(fs::is_directory(at / "other"));
            EXPECT_EQ(FolderIdentity::of(at / "side"), before);
            EXPECT_EQ(FolderIdentity::of(tmp / ".." / tmp.path().filename() / fs::relative(at / "side", tmp.path())),
                      before);
            // Where numbers are kept they tell a new folder; elsewhere the place is kept.
            fs::rename(at / "side", at / "moved");
            EXPECT_EQ(FolderIdentity::of(at / "moved") == before, keepsNumbers);
            EXPECT_FALSE(FolderIdentity::of(at / "side"));
            fs::create_directory(at / "side");
            EXPECT_EQ(FolderIdentity::of(at / "side") == before, !keepsNumbers);
        }
        SCOPED_TRACE("EveryMoveTriesTheRenameThatRefusesToReplaceFirst");
        for (const int answer : {EIO, EINVAL, EOPNOTSUPP}) {
            SCOPED_TRACE(answer);
            // The kernel answers every rename that refuses to replace with `answer`.
            const std::vector<sock_filter> renamesThatRefuse{
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_renameat2, 0, 3),
                BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[4])),  // the flags' low half
                BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, RENAME_NOREPLACE, 0, 1),
                BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<unsigned>(answer))};
            const int status = inChildRefusing(renamesThatRefuse, [&] {
                const bool failed = answer == EIO;
                const auto error = [](const std::function<void()>& move) { return failureOf(move).errorNumber(); };
                bool kept = !failed || error([&] { sfs::moveWithoutReplacing(tree, "a", tree, "moved"); }) == EIO;
                for (const sfs::Writers writers : {sfs::Writers::anyone, sfs::Writers::thisRunAlone}) {
                    const auto move = [&](const char* from, const char* to) {
                        return error([&] { sfs::moveToFreeName(tree, from, tree, to, writers); });
                    };
                    kept = kept && (failed ? move("a", "moved") == EIO && move("a", "b") == EIO
                                           : move("a", "moved") == 0 && move("moved", "a") == 0 &&
                                                 move("a", "b") == EEXIST);
                }
                return kept && readFile(at / "tree/a") == "a" && readFile(at / "tree/b") == "the user's";
            });
            if (status == 2) GTEST_SKIP() << "no seccomp filter";
            EXPECT_EQ(status, 0);
        }
    }
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

// Names the file and the system's reason, and offers no move aside.
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

// A baseline on a failing disk is named and kept, and loads once the disk is back; on a read-only one too.
TEST(BaselineStoreVolumes, ABaselineOnAFailingDiskIsNamedAndKept) {
    std::string whyNot;
    const std::unique_ptr<Ext4Volume> volume = Ext4Volume::make(whyNot);
    if (!volume) GTEST_SKIP() << whyNot;
    {
        // exFAT through FUSE has neither no-replace rename nor hard links: a baseline is made all the same.
        SCOPED_TRACE("ABaselineIsMadeWhereNoMoveCanRefuseAnExistingName");
        TemporaryFolder folder;
        TestMounts mounts;
        fs::create_directories(folder / "E");
        ASSERT_TRUE(mounts.exfat(folder / "exfat.img", folder / "E"));
        const fs::path file = folder / "E/state/JOB.sqlite";
        BaselineStore(file, false).save(saved, "X", std::nullopt, SideCounts{1, 0});
        EXPECT_TRUE(BaselineStore(file, false).isRecordedFor("X", std::nullopt));
        EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
    }
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
