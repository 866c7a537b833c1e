// Pipes, sockets and devices: rsync, given neither --devices nor --specials,
// passes over them. Every engine names each one among the skipped files, in
// the plan and in the run, and copies the rest as ever.

#include "tests/TwoWayEngineFixture.h"

#include "SyncEngine/PreflightSkips.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <cstring>

namespace kelto::test {
namespace {

// A pipe, a socket (unbound once made: the node stays) and, for root, a
// character device, a block device and a name that rsync escapes.
std::vector<SkippedFile> putSpecials(const fs::path& root) {
    fs::create_directories(root / "sub");
    std::vector<std::string> paths{"pipe", "sub/socket"};
    EXPECT_EQ(::mkfifo((root / "pipe").c_str(), 0644), 0);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (root / "sub/socket").native();
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << socketPath;
    ::close(s);
    if (::geteuid() == 0) {
        EXPECT_EQ(::mknod((root / "char").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
        EXPECT_EQ(::mknod((root / "sub/block").c_str(), S_IFBLK | 0644, makedev(7, 250)), 0);
        EXPECT_EQ(::mkfifo((root / "caf\xC3\xA9 \"q\"").c_str(), 0644), 0);
        paths.insert(paths.end(), {"char", "sub/block", "caf\xC3\xA9 \"q\""});
    }
    std::sort(paths.begin(), paths.end());
    std::vector<SkippedFile> skipped;
    for (const std::string& path : paths) skipped.push_back({path, FileSkipReason::specialFile});
    return skipped;
}

TEST_F(OneWayEngineTest, SpecialFilesAreNamedAmongTheSkipped) {
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        fresh();
        const std::vector<SkippedFile> specials = putSpecials(src);
        put(src / "file.txt", "copied");
        const SyncPlan p = plan();
        std::vector<SkippedFile> skipped = p.skipped;
        std::ranges::sort(skipped, {}, &SkippedFile::path);
        EXPECT_EQ(skipped, specials);
        EXPECT_EQ(copyPaths(p), std::vector<std::string>{"file.txt"});
        const auto [stats, exit] = run(p);
        EXPECT_EQ(exit, RsyncExit(0, {}));
        EXPECT_EQ(stats.skipped, p.skipped);
        EXPECT_EQ(entries(dst), (std::vector<std::string>{"file.txt", "sub/"}));
    }
}

// rsync passes over pipes by itself: one whose path the exclude file could
// not hold (each wildcard there takes an escape) is no reason to refuse the
// run its plan allowed.
TEST_F(OneWayEngineTest, ASpecialFileTooLongToExcludeStopsNothing) {
    fs::remove_all(src);
    fs::path deep = src;
    for (char level = 'a'; level < 'm'; ++level) deep /= std::string(1, level) + std::string(199, '*');
    fs::create_directories(deep);
    ASSERT_EQ(::mkfifo((deep / "pipe").c_str(), 0644), 0);
    put(src / "file.txt", "copied");
    for (const SyncMode mode : {SyncMode::mirror, SyncMode::copy}) {
        SCOPED_TRACE(enumName(mode));
        job.mode = mode;
        const SyncPlan p = plan();
        ASSERT_EQ(p.skipped.size(), 1u);
        EXPECT_FALSE(PreflightSkips::canExclude(p.skipped[0].path));
        EXPECT_EQ(run(p).second, RsyncExit(0, {}));
        EXPECT_EQ(contents(dst / "file.txt"), "copied");
    }
}

TEST_F(TwoWayEngineTest, SpecialFilesAreNamedAmongTheSkipped) {
    const std::vector<SkippedFile> specials = putSpecials(a);
    putAt(a / "file.txt", "copied", t0);
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.skipped, specials);
    EXPECT_EQ(syncPlan.skipped, specials);
    EXPECT_EQ(twoWay.copyAtoB, (std::vector<std::string>{"file.txt", "sub"}));
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(0, {}));
    EXPECT_EQ(stats.skipped, specials);

    // Named again while they stand there; nothing of them reaches B.
    const auto again = plan().second;
    EXPECT_EQ(again.skipped, specials);
    EXPECT_TRUE(again.copyAtoB.empty() && again.copyBtoA.empty());
    EXPECT_TRUE(fs::is_empty(b / "sub"));
}

}  // namespace
}  // namespace kelto::test
