#include "SyncEngine/RsyncArguments.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <functional>

using namespace kelto;

namespace {

FileSystemTraits traitsOf(const char* fileSystem, VolumeKind kind = VolumeKind::internal) {
    VolumeIdentity v;
    v.fileSystem = fileSystem;
    v.kind = kind;
    return FileSystemTraits::forVolume(v);
}

RsyncInvocation invocation(RsyncOperation operation, FileSystemTraits traits = traitsOf("ext4"),
                           const std::function<void(RsyncInvocation&)>& edit = {}) {
    RsyncInvocation i;
    i.operation = std::move(operation);
    i.source = "/home/a/Photos";
    i.destination = "/media/b/Backup";
    i.traits = std::move(traits);
    if (edit) edit(i);
    return i;
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

// The whole list for each kind of run, disk and setting: the fixed options, then what the disk keeps, the
// operation, its settings, the patterns (each a literal exclusion) and the operands.
TEST(RsyncArguments, EachInvocationGivesItsWholeList) {
    using Args = std::vector<std::string>;
    const std::string src = "/home/a/Photos/", dst = "/media/b/Backup/";
    const auto native = [](Args tail) {
        tail.insert(tail.begin(), {"--modify-window=0", "--timeout=0", "--perms", "-X"});
        return withFixed(std::move(tail));
    };
    const auto ext4 = traitsOf("ext4");
    auto crtimes = ext4;  // Linux rsync refuses -N: traits that claim creation times get none
    crtimes.preservesCrtimes = true;
    Args excludes{"--recursive", "--delete", "--delete-delay"};
    for (std::string_view pattern : FilterSet::defaultExcludes) excludes.push_back("--exclude=- " + std::string(pattern));
    for (const char* pattern : {"!", "+ keep", "- x", " lead", "*.tmp"}) excludes.push_back(std::string("--exclude=- ") + pattern);
    excludes.insert(excludes.end(), {src, dst});
    Args scratch = kFixed;
    scratch.insert(scratch.begin() + 9, {"--partial-dir=/b/.KeltoSync/Partial", "--temp-dir=/b/.KeltoSync/Temporary"});
    scratch.insert(scratch.end(), {"--modify-window=0", "--timeout=0", "--perms", "-X", "--files-from=/tmp/l", "--from0", src, dst});
    const struct {
        const char* name;
        RsyncInvocation invocation;
        Args expected;
    } rows[]{
        {"native mirror", invocation(RsyncOperation::mirror()), native({"--recursive", "--delete", "--delete-delay", src, dst})},
        {"creation times never asked", invocation(RsyncOperation::mirror(), crtimes),
         native({"--recursive", "--delete", "--delete-delay", src, dst})},
        {"nor in a listing", invocation(RsyncOperation::listOnly(), crtimes),
         withFixed({"--modify-window=0", "--timeout=0", "--perms", "--list-only", "--recursive", src})},
        {"exFAT mirror", invocation(RsyncOperation::mirror(), traitsOf("exfat")),
         withFixed({"--modify-window=1", "--timeout=0", "--no-perms", "--recursive", "--delete", "--delete-delay", src, dst})},
        {"tmpfs copy", invocation(RsyncOperation::copy(), traitsOf("tmpfs")),
         withFixed({"--modify-window=0", "--timeout=0", "--perms", "--recursive", src, dst})},
        {"cifs copy", invocation(RsyncOperation::copy(), traitsOf("cifs")),
         withFixed({"--modify-window=1", "--timeout=120", "--no-perms", "--recursive", src, dst})},
        {"network ext4 copy", invocation(RsyncOperation::copy(), traitsOf("ext4", VolumeKind::network)),
         withFixed({"--modify-window=0", "--timeout=120", "--perms", "-X", "--recursive", src, dst})},
        {"copy with archive", invocation(RsyncOperation::copy(), ext4, [](auto& i) { i.backupDirectory = ".KeltoSync/Archive/J/x"; }),
         native({"--recursive", "--backup", "--backup-dir=.KeltoSync/Archive/J/x", src, dst})},
        {"listing ignores transfer settings", invocation(RsyncOperation::listOnly(), ext4, [](auto& i) { i.backupDirectory = "x"; }),
         withFixed({"--modify-window=0", "--timeout=0", "--perms", "--list-only", "--recursive", src})},
        {"deletion bound", invocation(RsyncOperation::mirror(), ext4, [](auto& i) { i.maximumDeletions = 0; }),
         native({"--recursive", "--delete", "--delete-delay", "--max-delete=0", src, dst})},
        {"negative bound is none allowed", invocation(RsyncOperation::mirror(), ext4, [](auto& i) { i.maximumDeletions = -7; }),
         native({"--recursive", "--delete", "--delete-delay", "--max-delete=0", src, dst})},
        {"a bound only limits a mirror", invocation(RsyncOperation::copy(), ext4, [](auto& i) { i.maximumDeletions = 3; }),
         native({"--recursive", src, dst})},
        {"dry run of a file list", invocation(RsyncOperation::filesFrom("/tmp/F"), ext4, [](auto& i) {
             i.dryRun = true;
             i.extraExcludeFile = "/tmp/E";
         }),
         native({"--files-from=/tmp/F", "--from0", "--dry-run", "--itemize-changes", "--from0", "--exclude-from=/tmp/E", src, dst})},
        {"operands with spaces", invocation(RsyncOperation::copy(), ext4, [](auto& i) {
             i.source = "/";
             i.destination = "/media/my disk/Back up/";
             i.filters.patterns = {"two words/*"};
         }),
         native({"--recursive", "--exclude=- two words/*", "/", "/media/my disk/Back up/"})},
        {"patterns", invocation(RsyncOperation::mirror(), ext4, [](auto& i) {
             i.filters.useDefaultExcludes = true;
             i.filters.patterns = {"!", "+ keep", "- x", "", " lead", "*.tmp"};
         }),
         native(excludes)},
        {"scratch folders before the reserved exclusion", invocation(RsyncOperation::filesFrom("/tmp/l"), ext4, [](auto& i) {
             i.partialDirectory = "/b/.KeltoSync/Partial";
             i.temporaryDirectory = "/b/.KeltoSync/Temporary";
         }),
         scratch},
    };
    for (const auto& row : rows) EXPECT_EQ(RsyncArguments::build(row.invocation), row.expected) << row.name;
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
