#include "SyncEngine/RsyncArguments.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <algorithm>

using namespace kelto;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

namespace {

FileSystemTraits traitsOf(const char* fileSystem, VolumeKind kind = VolumeKind::internal) {
    VolumeIdentity v;
    v.fileSystem = fileSystem;
    v.kind = kind;
    return FileSystemTraits::forVolume(v);
}

RsyncInvocation invocation(RsyncOperation operation, FileSystemTraits traits = traitsOf("ext4")) {
    RsyncInvocation i;
    i.operation = std::move(operation);
    i.source = "/home/a/Photos";
    i.destination = "/media/b/Backup";
    i.traits = std::move(traits);
    return i;
}

std::ptrdiff_t indexOf(const std::vector<std::string>& args, std::string_view arg) {
    const auto it = std::find(args.begin(), args.end(), arg);
    return it == args.end() ? -1 : it - args.begin();
}

long countOf(const std::vector<std::string>& args, std::string_view arg) {
    return std::count(args.begin(), args.end(), arg);
}

const std::vector<std::string> kFixed{
    "--links",          "--times",           "--no-owner",
    "--no-group",       "--no-human-readable", "--itemize-changes",
    "--out-format=%i %l %b %n", "--info=progress2", "--no-inc-recursive",
    "--exclude=/.KeltoSync", R"(--filter=- .kelto-copy-????????-????-????-????-????????????)"};

std::vector<std::string> withFixed(std::vector<std::string> tail) {
    std::vector<std::string> all = kFixed;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

}  // namespace

TEST(RsyncArgumentsTraits, NativeLinuxMirrorIsTheWholeContract) {
    EXPECT_EQ(RsyncArguments::build(invocation(RsyncOperation::mirror())),
              withFixed({"--modify-window=0", "--timeout=0", "--perms", "-X", "--recursive", "--delete",
                         "--delete-delay", "/home/a/Photos/", "/media/b/Backup/"}));
}

TEST(RsyncArgumentsTraits, ScratchFoldersComeBeforeTheReservedExclusionOnlyWhenGiven) {
    RsyncInvocation transfer = invocation(RsyncOperation::filesFrom("/tmp/l"));
    transfer.partialDirectory = "/media/b/Backup/.KeltoSync/Partial";
    transfer.temporaryDirectory = "/media/b/Backup/.KeltoSync/Temporary";
    const auto args = RsyncArguments::build(transfer);
    EXPECT_EQ(indexOf(args, "--partial-dir=/media/b/Backup/.KeltoSync/Partial"), 9);
    EXPECT_EQ(indexOf(args, "--temp-dir=/media/b/Backup/.KeltoSync/Temporary"), 10);
    EXPECT_EQ(indexOf(args, "--exclude=/.KeltoSync"), 11);
    for (const auto& arg : RsyncArguments::build(invocation(RsyncOperation::mirror()))) {
        EXPECT_FALSE(arg.starts_with("--partial-dir")) << arg;
        EXPECT_FALSE(arg.starts_with("--temp-dir")) << arg;
    }
}

TEST(RsyncArgumentsTraits, ForeignAndNetworkVolumes) {
    EXPECT_EQ(RsyncArguments::build(invocation(RsyncOperation::mirror(), traitsOf("exfat"))),
              withFixed({"--modify-window=1", "--timeout=0", "--no-perms", "--recursive", "--delete",
                         "--delete-delay", "/home/a/Photos/", "/media/b/Backup/"}));
    const auto tmpfs = RsyncArguments::build(invocation(RsyncOperation::copy(), traitsOf("tmpfs")));
    EXPECT_THAT(tmpfs, Contains("--perms"));
    EXPECT_THAT(tmpfs, Not(Contains("-X")));
    EXPECT_THAT(RsyncArguments::build(invocation(RsyncOperation::copy(), traitsOf("cifs"))), Contains("--timeout=120"));
    EXPECT_THAT(RsyncArguments::build(invocation(RsyncOperation::copy(), traitsOf("ext4", VolumeKind::network))),
                Contains("--timeout=120"));
}

TEST(RsyncArgumentsTraits, WhatIsKeptIsAskedOfEveryDiskAWalkMeets) {
    struct Case {
        std::vector<const char*> read;     // the source's disk, any below it
        std::vector<const char*> written;  // the destination's disk, any below it
        bool attributes;
        bool modes;
    };
    const std::vector<Case> cases{
        {{"ext4"}, {"ext4"}, true, true},          {{"btrfs"}, {"xfs"}, true, true},
        {{"f2fs"}, {"zfs"}, true, true},           {{"ext4"}, {"fuse.rclone"}, false, false},
        {{"fuse.rclone"}, {"ext4"}, false, true},  {{"fuse.rclone"}, {"fuse.rclone"}, false, false},
        {{"fuse.sshfs"}, {"btrfs"}, false, true},  {{"tmpfs"}, {"ext4"}, false, true},
        {{"ext4"}, {"tmpfs"}, false, true},        {{"vfat"}, {"ext4"}, false, true},
        {{"ext4"}, {"exfat"}, false, false},       {{"fuse.unknown"}, {"xfs"}, false, true},
        {{"ext4", "fuse.rclone"}, {"ext4"}, false, true}, {{"ext4"}, {"ext4", "vfat"}, false, false},
        {{"ext4"}, {"ext4", "fuse.exfat"}, false, false}, {{"ext4"}, {"xfs", "btrfs"}, true, true},
        {{}, {}, false, false},
    };
    const auto disksOf = [](const std::vector<const char*>& types) {
        std::vector<FileSystemCapabilities> disks;
        for (const char* type : types) disks.push_back(FileSystemCapabilities::forType(type));
        return disks;
    };
    for (const Case& c : cases) {
        std::vector<FileSystemCapabilities> both = disksOf(c.read);
        const std::vector<FileSystemCapabilities> written = disksOf(c.written);
        both.insert(both.end(), written.begin(), written.end());
        const FileSystemTraits destination = traitsOf(c.written.empty() ? "ext4" : c.written.front());
        for (auto op : {RsyncOperation::mirror(), RsyncOperation::copy(), RsyncOperation::filesFrom("/tmp/l")}) {
            const auto args = RsyncArguments::build(invocation(op, FileSystemTraits::forTransfer(destination, both, written)));
            EXPECT_EQ(countOf(args, "-X"), c.attributes ? 1 : 0) << testing::PrintToString(c.read) << testing::PrintToString(c.written);
            EXPECT_EQ(countOf(args, c.modes ? "--perms" : "--no-perms"), 1) << testing::PrintToString(c.written);
            EXPECT_EQ(countOf(args, c.modes ? "--modify-window=0" : "--modify-window=1"), 1) << testing::PrintToString(c.written);
        }
    }
}

TEST(RsyncArgumentsTraits, NeverAsksForCreationTimes) {
    // Linux rsync refuses -N; even traits that claim creation times get none.
    FileSystemTraits claims = traitsOf("apfs");
    claims.preservesCrtimes = true;
    for (auto op : {RsyncOperation::mirror(), RsyncOperation::copy(), RsyncOperation::filesFrom("/tmp/l"),
                    RsyncOperation::listOnly()}) {
        const auto args = RsyncArguments::build(invocation(op, claims));
        EXPECT_THAT(args, Not(Contains("-N")));
        EXPECT_THAT(args, Not(Contains("--crtimes")));
        EXPECT_EQ(countOf(args, "-X"), op.kind == RsyncOperation::Kind::listOnly ? 0 : 1);
    }
}

TEST(RsyncArgumentsOperations, DeletionBound) {
    auto i = invocation(RsyncOperation::mirror());
    i.maximumDeletions = 0;
    auto args = RsyncArguments::build(i);
    EXPECT_EQ(indexOf(args, "--max-delete=0"), indexOf(args, "--delete-delay") + 1);
    i.maximumDeletions = -7;
    EXPECT_THAT(RsyncArguments::build(i), Contains("--max-delete=0"));
    i.maximumDeletions.reset();
    for (const auto& a : RsyncArguments::build(i)) EXPECT_FALSE(a.starts_with("--max-delete")) << a;
    // A bound only ever limits a mirror.
    auto c = invocation(RsyncOperation::copy());
    c.maximumDeletions = 3;
    for (const auto& a : RsyncArguments::build(c)) EXPECT_FALSE(a.starts_with("--max-delete")) << a;
}

TEST(RsyncArgumentsOperations, CopyWithBackup) {
    auto i = invocation(RsyncOperation::copy());
    i.backupDirectory = ".KeltoSync/Archive/J/2026-01-02_030405-abcdef12";
    const auto args = RsyncArguments::build(i);
    const auto at = indexOf(args, "--recursive");
    ASSERT_GE(at, 0);
    EXPECT_EQ(args[at + 1], "--backup");
    EXPECT_EQ(args[at + 2], "--backup-dir=.KeltoSync/Archive/J/2026-01-02_030405-abcdef12");
    EXPECT_THAT(args, Not(Contains("--delete")));
}

TEST(RsyncArgumentsOperations, ListingIgnoresTransferSettings) {
    auto i = invocation(RsyncOperation::listOnly());
    i.backupDirectory = ".KeltoSync/Archive/x";
    const auto args = RsyncArguments::build(i);
    EXPECT_EQ(args, withFixed({"--modify-window=0", "--timeout=0", "--perms", "--list-only", "--recursive",
                               "/home/a/Photos/"}));
}

TEST(RsyncArgumentsOperations, DryRunAndFileList) {
    auto i = invocation(RsyncOperation::filesFrom("/tmp/KeltoSync-files-1"));
    i.dryRun = true;
    i.extraExcludeFile = "/tmp/KeltoSync-excludes-2";
    const auto args = RsyncArguments::build(i);
    EXPECT_EQ(countOf(args, "--itemize-changes"), 2);
    const auto dryRun = indexOf(args, "--dry-run");
    ASSERT_GE(dryRun, 0);
    EXPECT_EQ(args[dryRun + 1], "--itemize-changes");
    EXPECT_EQ(countOf(args, "--from0"), 2);
    const auto filesFrom = indexOf(args, "--files-from=/tmp/KeltoSync-files-1");
    ASSERT_GE(filesFrom, 0);
    EXPECT_EQ(args[filesFrom + 1], "--from0");
    const auto excludeFrom = indexOf(args, "--exclude-from=/tmp/KeltoSync-excludes-2");
    EXPECT_EQ(args[excludeFrom - 1], "--from0");
    EXPECT_THAT(args, Not(Contains("--recursive")));
}

TEST(RsyncArgumentsOperands, SlashesAndSpaces) {
    auto i = invocation(RsyncOperation::copy());
    i.source = "/";
    i.destination = "/media/my disk/Back up/";
    i.filters.patterns = {"two words/*"};
    const auto args = RsyncArguments::build(i);
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[args.size() - 2], "/");
    EXPECT_EQ(args.back(), "/media/my disk/Back up/");
    EXPECT_THAT(args, Contains("--exclude=- two words/*"));
}

TEST(RsyncArgumentsExcludes, EveryPatternIsALiteralExclusion) {
    auto i = invocation(RsyncOperation::mirror());
    i.filters.useDefaultExcludes = true;
    i.filters.patterns = {"!", "+ keep", "- x", "", " lead", "*.tmp"};
    const auto args = RsyncArguments::build(i);
    std::vector<std::string> excludes;
    for (const auto& a : args)
        if (a.starts_with("--exclude=")) excludes.push_back(a);
    ASSERT_EQ(excludes.size(), 1 + FilterSet::defaultExcludes.size() + 5);
    EXPECT_EQ(excludes.front(), "--exclude=/.KeltoSync");  // first, so nothing before it can match
    EXPECT_EQ(excludes[1], "--exclude=- .DS_Store");
    EXPECT_EQ(excludes[8], "--exclude=- Icon\r");
    EXPECT_THAT(std::vector<std::string>(excludes.end() - 5, excludes.end()),
                ElementsAre("--exclude=- !", "--exclude=- + keep", "--exclude=- - x", "--exclude=-  lead",
                            "--exclude=- *.tmp"));
    // Patterns come after the dry-run options and before the operands.
    EXPECT_LT(indexOf(args, "--delete-delay"), indexOf(args, "--exclude=- !"));
    EXPECT_EQ(args[args.size() - 3], "--exclude=- *.tmp");
}
