// Talking to rsync: finding it, its arguments, reading its output, the progress and log of a run, how it ended.

#include "SyncEngine/ExitClass.h"
#include "SyncEngine/FileRunLog.h"
#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/ProgressAggregator.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <algorithm>
#include <fstream>
#include <functional>

using namespace kelto;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

TEST(RsyncLocator, RequiresAnExecutableFile) {
    const test::TemporaryFolder folder;
    const std::filesystem::path& root = folder.path();
    const auto rsync = RsyncLocator::bundledPath(root);
    auto rejects = [&] {
        try {
            RsyncLocator::requireExecutable(root);
            return false;
        } catch (const RsyncLocatorError& e) {
            EXPECT_EQ(e, RsyncLocatorError::notFound(rsync));
            return true;
        }
    };
    EXPECT_TRUE(rejects());  // missing
    std::filesystem::create_directories(rsync);
    EXPECT_TRUE(rejects());  // a folder
    std::filesystem::remove(rsync);
    std::ofstream(rsync) << "#!/bin/sh\n";
    ::chmod(rsync.c_str(), 0644);
    EXPECT_TRUE(rejects());  // not executable
    ::chmod(rsync.c_str(), 0755);
    EXPECT_EQ(RsyncLocator::requireExecutable(root), rsync);
}

TEST(ExitClass, FullDiskNeedsTheWordsInTheLastFiftyLinesKept) {
    for (int code : {1, 2, 5, 10, 25, 255, -1, -15})
        EXPECT_EQ(exitClass(code, {"No space left on device (28)"}), ExitClass::failed) << code;
    EXPECT_EQ(exitClass(35, {}), ExitClass::timeout);
    const std::vector<std::string> full{
        "rsync: [receiver] write failed on \"/b/big\": No space left on device (28)",
        "rsync error: error in file IO (code 11) at receiver.c(381) [receiver=3.2.7]"};
    EXPECT_EQ(exitClass(12, {"sending incremental file list", full[0]}), ExitClass::noSpace);
    EXPECT_EQ(exitClass(RsyncExit(11, full)), ExitClass::noSpace);
    EXPECT_EQ(exitClass(12, {"rsync: connection unexpectedly closed"}), ExitClass::failed);
    EXPECT_EQ(exitClass(12, {"write failed: no space left on device"}), ExitClass::failed);
    EXPECT_EQ(exitClass(11, {}), ExitClass::failed);
    EXPECT_EQ(exitClass(23, full), ExitClass::partial);
}

VolumeIdentity volume(std::string fileSystem, bool caseSensitive = true, VolumeKind kind = VolumeKind::internal) {
    VolumeIdentity v;
    v.kind = kind;
    v.fileSystem = std::move(fileSystem);
    v.caseSensitive = caseSensitive;
    return v;
}

TEST(FileSystemTraits, TheRowIsFoundByNameInAnyCaseAndNetworkComesFromKindOrSmbNames) {
    // Case follows the volume's own flag, but for disks that always fold it and a disk not known.
    for (const auto& [name, flag, caseSensitive] : {std::tuple{"APFS", false, false}, {"ext4", true, true},
                                                    {"", true, false}, {"VFAT", true, false}, {"exfat", true, false}})
        EXPECT_EQ(FileSystemTraits::forVolume(volume(name, flag)).caseSensitive, caseSensitive) << name;
    EXPECT_EQ(FileSystemTraits::forVolume(volume("APFS")).fileSystem, "apfs");
    EXPECT_TRUE(FileSystemTraits::forVolume(volume("VFAT")).maxFileSize);
    for (const char* name : {"smbfs", "cifs", "smb3"})
        EXPECT_TRUE(FileSystemTraits::forVolume(volume(name)).isNetwork) << name;
    EXPECT_FALSE(FileSystemTraits::forVolume(volume("nfs4")).isNetwork);
    EXPECT_TRUE(FileSystemTraits::forVolume(volume("nfs4", true, VolumeKind::network)).isNetwork);
}

FileSystemTraits traitsOf(const char* fileSystem, VolumeKind kind = VolumeKind::internal) {
    return FileSystemTraits::forVolume(volume(fileSystem, true, kind));
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

TEST(RsyncLineBuffer, JoinsWhatChunksSplitAtEveryLineEndStyleAndReplacesInvalidBytes) {
    RsyncLineBuffer buffer;
    EXPECT_THAT(buffer.append("first li"), IsEmpty());
    EXPECT_THAT(buffer.append("ne\ncaf\xC3"), ElementsAre("first line"));
    EXPECT_THAT(buffer.append("\xA9"), IsEmpty());
    EXPECT_THAT(buffer.append("\n"), ElementsAre("caf\xC3\xA9"));
    EXPECT_FALSE(buffer.flush());
    buffer.append("done\n   ");
    EXPECT_EQ(buffer.flush(), "   ");  // the unterminated line, once
    EXPECT_FALSE(buffer.flush());
    EXPECT_TRUE(buffer.pending.empty());
    buffer = RsyncLineBuffer{};
    EXPECT_THAT(buffer.append("\r  1 2%\r  3 4%\r\r\nitem\r\n\n\nlast\n"), ElementsAre("  1 2%", "  3 4%", "item", "last"));
    // A CR at the end of one chunk and the LF at the start of the next end one line.
    EXPECT_THAT(buffer.append("a\r"), ElementsAre("a"));
    EXPECT_THAT(buffer.append("\nb\n"), ElementsAre("b"));
    // A lone continuation byte, an overlong lead and a sequence the line end cuts short.
    EXPECT_THAT(buffer.append("a\x80" "b\xC0\xAF" "c\xE2\x82\n"),
                ElementsAre("a" + kFFFD + "b" + kFFFD + kFFFD + "c" + kFFFD));
    buffer.append("end \xC3");
    EXPECT_EQ(buffer.flush(), "end " + kFFFD);
}

// The one event of the line's kind, or a failure naming the line.
template <class T>
T parsed(RsyncOutputParser::Mode mode, std::string_view line, const T* (RsyncEvent::*as)() const) {
    const auto e = RsyncOutputParser(mode).event(line);
    const T* payload = e ? ((*e).*as)() : nullptr;
    if (!payload) {
        ADD_FAILURE() << "not the expected kind of line: " << line;
        return {};
    }
    return *payload;
}
ItemizedChange item(std::string_view line) {
    return parsed(RsyncOutputParser::Mode::transfer, line, &RsyncEvent::asItem);
}
ListEntry entry(std::string_view line) {
    return parsed(RsyncOutputParser::Mode::listOnly, line, &RsyncEvent::asListEntry);
}
RsyncProgressSample sample(std::string_view line) {
    return parsed(RsyncOutputParser::Mode::transfer, line, &RsyncEvent::asProgress);
}

bool isDiagnostic(const std::optional<RsyncEvent>& e, std::string_view line) {
    return e && e->asDiagnostic() && *e->asDiagnostic() == line;
}

constexpr std::int64_t kNov14 = 1700000000;  // 2023-11-14 22:13:20 UTC

TEST(RsyncItemizedChange, NamesAndDeletionsAreTakenWhole) {
    const std::pair<std::string_view, ItemizedChange> rows[]{
        {">f+++++++++ 1234 1234 my dir/a -> b.txt", {">f+++++++++", 1234, "my dir/a -> b.txt"}},
        {"cd+++++++++ 4096 0 Photos/", {"cd+++++++++", 4096, "Photos/"}},
        {".d          4096 0 ./", {".d         ", 4096, "./"}},
        {"cL+++++++++ 11 0 link -> odd", {"cL+++++++++", 11, "link -> odd"}},
        {"hf+++++++++ 5 0 ", {"hf+++++++++", 5, ""}},
        {">f.st...... 3 0   two leading spaces", {">f.st......", 3, "  two leading spaces"}},
        {"*deleting   0 0 old dir/gone.txt", {"*deleting  ", 0, "old dir/gone.txt"}},
        {"*deleting   17 0 f", {"*deleting  ", 17, "f"}},
        {"*deleting   old dir/two words", {"*deleting  ", 0, "old dir/two words"}},
        {"*deleting   12 name", {"*deleting  ", 0, "12 name"}},  // one number is not the field pair
        {"*deleting   x\\#377y", {"*deleting  ", 0, "x\xFFy"}},
    };
    for (const auto& [line, expected] : rows) EXPECT_EQ(item(line), expected) << line;
}

TEST(RsyncProgress, CountersAndEveryRateUnit) {
    EXPECT_EQ(sample("      3000019  99%    2.79GB/s    0:00:00 (xfr#8, to-chk=0/13)"),
              (RsyncProgressSample{3000019, 99, 2.79 * (1 << 30), 0}));
    EXPECT_EQ(sample("        2129920  70%  999.51kB/s    0:00:00  "),
              (RsyncProgressSample{2129920, 70, 999.51 * 1024, std::nullopt}));
    EXPECT_EQ(sample("12 130% 5B/s 123:45:06 (xfr#1,   to-chk=17/40)"), (RsyncProgressSample{12, 130, 5, 17}));
    const std::pair<const char*, double> rates[] = {
        {"7B/s", 7}, {"7b/s", 7}, {"1.5kB/s", 1.5 * 1024}, {"1.5KB/s", 1.5 * 1024}, {"2MB/s", 2.0 * (1 << 20)},
        {"2Gb/s", 2.0 * (1 << 30)}, {"3TB/s", 3.0 * (std::int64_t{1} << 40)}, {"3PB/s", 3.0 * (std::int64_t{1} << 50)},
        {"0.25EB/s", 0.25 * static_cast<double>(std::uint64_t{1} << 60)},
    };
    for (const auto& [text, value] : rates) {
        EXPECT_EQ(RsyncOutputParser::rate(text), value) << text;
        EXPECT_EQ(sample(std::string("1 1% ") + text + " 0:00:01").bytesPerSecond, value) << text;
    }
    for (const char* text : {"1mB/s", "1.kB/s", ".5kB/s", "1kB/sec", "1kiB/s", "1 kB/s", "kB/s", "1,5kB/s", "1kB"})
        EXPECT_FALSE(RsyncOutputParser::rate(text)) << text;
    EXPECT_EQ(sample("100 5% ??? 0:00:01"), (RsyncProgressSample{100, 5, std::nullopt, std::nullopt}));
}

TEST(RsyncListing, KindsSizesTimesAndNames) {
    using enum EntryKind;
    const std::pair<std::string_view, ListEntry> rows[]{
        {"-rw-r--r--           2 2023/11/14 22:13:20 plain.txt", {file, 2, kNov14, "plain.txt"}},
        {"drwxr-xr-x\t4096\t2023/11/14 22:13:20 dir one", {directory, 4096, kNov14, "dir one"}},
        {"prw-r--r--  0 2023/11/14 22:13:20 fifo", {other, 0, kNov14, "fifo"}},
        {"crwsrwsrwT  0 2023/11/14 22:13:20 dev", {other, 0, kNov14, "dev"}},
        {"-rw-r--r-- 1 1969/12/31 23:59:59 old", {file, 1, -1, "old"}},
        {"-rw-r--r-- 1 2024/02/29 00:00:00 leap", {file, 1, 1709164800, "leap"}},
        {"-rw-r--r-- 1 2106/02/07 06:28:16 far", {file, 1, 4294967296, "far"}},
        // Leading spaces and arrows belong to the name; a link's target length splits it from the name.
        {"-rw-r--r--  2 2023/11/14 22:13:20   lead", {file, 2, kNov14, "  lead"}},
        {"-rw-r--r--  2 2023/11/14 22:13:20 a -> b", {file, 2, kNov14, "a -> b"}},
        {"lrwxrwxrwx 11 2023/11/14 22:13:20 link -> odd -> target file", {symlink, 11, kNov14, "link -> odd"}},
        {"lrwxrwxrwx  1 2023/11/14 22:13:20  ->  -> x", {symlink, 1, kNov14, " -> "}},
        // An escaped byte that is not UTF-8 comes back as that byte, as the file system holds it; the
        // target's length counts raw bytes; text that is no escape stays literal.
        {"-rw-r--r-- 1 2023/11/14 22:13:20 caf\\#303\\#251", {file, 1, kNov14, "caf\xC3\xA9"}},
        {"-rw-r--r-- 1 2023/11/14 22:13:20 bad\\#377\\#376name", {file, 1, kNov14, "bad\xFF\xFEname"}},
        {"lrwxrwxrwx 4 2023/11/14 22:13:20 lnk2 -> tgt\\#351", {symlink, 4, kNov14, "lnk2"}},
        {"-rw-r--r-- 1 2023/11/14 22:13:20 back\\#134#101slash", {file, 1, kNov14, "back\\#101slash"}},
        {"-rw-r--r-- 1 2023/11/14 22:13:20 a\\#400b\\#12", {file, 1, kNov14, "a\\#400b\\#12"}},
    };
    for (const auto& [line, expected] : rows) EXPECT_EQ(entry(line), expected) << line;
    EXPECT_FALSE(RsyncOutputParser(RsyncOutputParser::Mode::listOnly).event("drwxr-xr-x  4096 2023/11/14 22:13:20 ."));
    const auto events = RsyncOutputParser(RsyncOutputParser::Mode::listOnly).feed("-rw-r--r-- 1 2023/11/14 22:13:20 x\xFFy\n");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].asListEntry()->path, "x" + kFFFD + "y");
}

TEST(RsyncListing, YearsOutsideFourDigits) {
    const std::pair<std::string_view, std::int64_t> whole[] = {
        {"-rw-r--r--              0  999/12/31 23:59:59 y999", -30610224001},
        {"-rw-r--r--              0    1/01/01 00:00:00 y1", -62135596800},
        {"-rw-r--r--              0    0/01/01 00:00:00 y0", -62167219200},
        {"-rw-r--r--              0   -1/01/01 00:00:00 yminus1", -62198755200},
        {"-rw-r--r--              0   -2/12/17 14:13:20 yneg", -62200000000},
        {"-rw-r--r--              0 -978/12/13 02:40:00 yminus978", -93000000000},
        {"-rw-r--r--              0 9999/12/31 23:59:59 y9999", 253402300799},
        {"-rw-r--r-- 12345678901234  999/12/31 23:59:59 wide", -30610224001},
    };
    for (const auto& [line, mtime] : whole) {
        const ListEntry e = entry(line);
        EXPECT_EQ(e.mtime, mtime) << line;
        EXPECT_TRUE(e.timeKnown) << line;
    }
    EXPECT_EQ(entry("-rw-r--r--              0  999/12/31 23:59:59  y999").path, " y999");
    const std::pair<std::string_view, ListEntry> cut[] = {
        {"-rw-r--r--              0 10000/01/01 00:00:0 y10000", {EntryKind::file, 0, 0, "y10000"}},
        {"-rw-r--r--              7 14645/06/30 15:06:4 far away", {EntryKind::file, 7, 0, "far away"}},
        {"-rw-r--r--              0 2147483647/12/29 12 yhuge", {EntryKind::file, 0, 0, "yhuge"}},
        {"-rw-r--r--              0 -2147481749/12/31 2 ymax", {EntryKind::file, 0, 0, "ymax"}},
        {"-rw-r--r--              0 -1000/01/01 00:00:0 yminus1000", {EntryKind::file, 0, 0, "yminus1000"}},
        {"drwxr-xr-x           4096 10000/01/01 00:00:0 folder", {EntryKind::directory, 4096, 0, "folder"}},
        {"-rw-r--r--              0 (time out of range) beyond 64 bits", {EntryKind::file, 0, 0, "beyond 64 bits"}},
        {"lrwxrwxrwx              1 10000/01/01 00:00:0 lnk -> t", {EntryKind::symlink, 1, 0, "lnk"}},
    };
    for (auto [line, expected] : cut) {
        expected.timeKnown = false;
        EXPECT_EQ(entry(line), expected) << line;
    }
}

TEST(RsyncOutputParser, LinesOfNoGrammarOfTheModeAreDiagnostics) {
    using enum RsyncOutputParser::Mode;
    // Thousands separators, fields missing or spaced twice, codes that are no code, numbers past 64 bits, progress
    // times off their form, an incremental counter, a listing line.
    const std::string_view transferLines[]{
        ">f+++++++++ 1,234 1234 a", ">f+++++++++ 12 a", ">f+++++++++ 12", ">f+++++++++  12 0 a", ">f+++++++++ 12  0 a",
        "*f+++++++++ 12 0 a", "*deleting  x", ">x+++++++++ 12 0 a", "<f+++++++++x12 0 a", ">f++++++++\xC3\xA9 1 0 a",
        "sent 1,234 bytes  received 56 bytes  2,580.00 bytes/sec", ">f+++++++++ 99999999999999999999 0 a",
        "  1,234,567  12%  1.00MB/s  0:00:01", "1234 12% 1.00MB/s 0:0:01", "1234 12% 1.00MB/s 0:00:011",
        "1234 12 1.00MB/s 0:00:01", "1234 12% 1.00MB/s 0:00:01 (xfr#1, ir-chk=3/9)",
        "1234 12% 1.00MB/s 0:00:01 (xfr#1, to-chk=3/9) x", "99999999999999999999 12% 1.00MB/s 0:00:01",
        "-rw-r--r-- 1 2023/11/14 22:13:20 x"};
    const std::string_view listingLines[]{
        "-rw-r--r-- 1 2023/02/29 00:00:00 not a leap year", "-rw-r--r-- 1 2023/13/01 00:00:00 month",
        "-rw-r--r-- 1 2023/11/31 00:00:00 day", "-rw-r--r-- 1 2023/11/14 24:00:00 hour",
        "-rw-r--r-- 1 2023/11/14 23:60:00 minute", "-rw-r--r-- 1 2023/11/14 23:59:60 second",
        "-rw-r--r-- 1 0000/01/01 00:00:00 year", "-rw-r--r-- 1 23/11/14 22:13:20 short year",
        "-rw-r--r-- 1,024 2023/11/14 22:13:20 separators", "-rw-r--r-- 1 2023/11/14  22:13:20 two spaces in the date",
        "-rw-r--r-- 1 2023/11/14 22:13:20", "-rw-r--r--1 2023/11/14 22:13:20 x", "-rw-r--r-x- 1 2023/11/14 22:13:20 x",
        "xrw-r--r-- 1 2023/11/14 22:13:20 x", "-rw-r--r-- 99999999999999999999 2023/11/14 22:13:20 x",
        "rsync: [sender] change_dir \"/nope\" failed: No such file or directory (2)", ">f+++++++++ 1 0 x",
        "1 1% 1B/s 0:00:01", "*deleting   x",
        // Years outside four digits: padded as rsync pads them, and cut only where the line ends.
        "-rw-r--r-- 1 999/12/31 23:59:59 padding missing", "-rw-r--r--  1  99/12/31 23:59:59 padding short",
        "-rw-r--r--              0 0999/12/31 23:59:59 zero-padded",
        "-rw-r--r--              0   -0/01/01 00:00:00 minus zero",
        "-rw-r--r--              0  -01/01/01 00:00:00 zero after the sign",
        "-rw-r--r--              0  999/02/29 00:00:00 not a leap year",
        "-rw-r--r--              0 10000/01/01 00:00:00 whole five-digit year",
        "-rw-r--r--              0 10000/01/01 00:00: short cut",
        "-rw-r--r--              0 10000/01/0x 00:00:0 not a time",
        "-rw-r--r--              0 010000/01/01 00:00 zero-padded cut", "-rw-r--r--              0 10000/01/01 00:00:0",
        "-rw-r--r--              0 /01/01 00:00:00 no year", "-rw-r--r--              0 - /01/01 00:00:00 sign alone",
        // A link whose target is not as long as its size says.
        "lrwxrwxrwx 12 2023/11/14 22:13:20 link -> odd -> target file",
        "lrwxrwxrwx 10 2023/11/14 22:13:20 link -> odd -> target file", "lrwxrwxrwx  3 2023/11/14 22:13:20 ab",
        "lrwxrwxrwx  0 2023/11/14 22:13:20 abcd"};
    for (const std::string_view line : transferLines)
        EXPECT_TRUE(isDiagnostic(RsyncOutputParser(transfer).event(line), line)) << line;
    for (const std::string_view line : listingLines)
        EXPECT_TRUE(isDiagnostic(RsyncOutputParser(listOnly).event(line), line)) << line;
    EXPECT_EQ(item(">f+++++++++ +12 -1 a").size, 12);  // a sign is part of an integer
    EXPECT_EQ(entry("-rw-r--r-- 1 2023/11/14 22:13:20 ").path, "");
}

TEST(RsyncOutputParserLines, PassedOverSpecialFilesGiveTheirPaths) {
    EXPECT_EQ(RsyncOutputParser::passedOverPath("skipping non-regular file \"sub/fifo\""), "sub/fifo");
    EXPECT_EQ(RsyncOutputParser::passedOverPath("skipping non-regular file \"caf\\#303\\#251 \"q\"\""),
              "caf\xC3\xA9 \"q\"");
    for (const char* other : {"skipping non-regular file \"\"", "skipping non-regular file \"", "skipping x",
                              "skipping non-regular file \"unclosed", "rsync: skipping non-regular file \"x\""})
        EXPECT_FALSE(RsyncOutputParser::passedOverPath(other)) << other;
}

TEST(ProgressAggregator, RateComesFromTheLastFiveSecondsAndBytesAndFilesNeverGoBackNorPassTheTotal) {
    ProgressAggregator aggregator(1000, 1);
    const SyncProgress first = aggregator.update(0, 0.0);
    EXPECT_EQ(first.fraction, 0.0);
    EXPECT_FALSE(first.bytesPerSecond || first.eta);  // no time has passed yet
    aggregator.update(200, 2.0);
    aggregator.update(400, 4.0);
    const SyncProgress p = aggregator.update(500, 4.5);
    EXPECT_DOUBLE_EQ(*p.bytesPerSecond, 500.0 / 4.5);
    EXPECT_DOUBLE_EQ(*p.eta, 500.0 / (500.0 / 4.5));
    // A sample exactly five seconds old stays; an older one goes.
    EXPECT_DOUBLE_EQ(*aggregator.update(600, 5.0).bytesPerSecond, 600.0 / 5.0);
    EXPECT_DOUBLE_EQ(*aggregator.update(700, 6.0).bytesPerSecond, 500.0 / 4.0);
    const SyncProgress resumed = aggregator.update(800, 20.0);
    EXPECT_FALSE(resumed.bytesPerSecond || resumed.eta);
    // Bytes never go back nor pass the total, and a stall has no time left.
    aggregator = ProgressAggregator(1000, 1);
    aggregator.update(600, 0.0);
    const SyncProgress stalled = aggregator.update(300, 1.0);
    EXPECT_EQ(stalled.bytesDone, 600);
    EXPECT_EQ(stalled.bytesPerSecond, 0.0);
    EXPECT_FALSE(stalled.eta);
    const SyncProgress over = aggregator.update(5000, 2.0);
    EXPECT_EQ(std::tuple(over.bytesDone, over.fraction), std::tuple(1000, 1.0));
    // Empty and negative totals; files done never pass their total, and one received is no longer current.
    ProgressAggregator empty(-5, -1);
    EXPECT_EQ(empty.filesTotal, 0);
    const SyncProgress nothing = empty.update(300, 1.0);
    EXPECT_EQ(std::tuple(nothing.fraction, nothing.bytesDone, nothing.bytesTotal), std::tuple(1.0, 0, 0));
    ProgressAggregator two(10, 2);
    for (const char* path : {"a", "b", "c"}) two.recordFile(path);
    const SyncProgress last = two.update(0, 0.0);
    EXPECT_EQ(last.filesDone, 2);
    EXPECT_FALSE(last.currentPath) << "a received file is no longer being copied";
}

TEST(ProgressAggregator, TheCurrentFileIsTheOneRsyncIsWritingNow) {
    // rsync 3 with the transfer's options, four files of 3 MB at 6 MB/s.
    const std::string output =
        ".d..t...... 4096 0 ./\n"
        "\r"
        "          32768   0%    0.00kB/s    0:00:00  \r"
        "        3000000  25%    6.90MB/s    0:00:00 (xfr#1, to-chk=3/5)\n"
        ">f+++++++++ 3000000 3000407 clip0.mov\n"
        "\r"
        "        6000000  50%    6.18MB/s    0:00:00 (xfr#2, to-chk=2/5)\n"
        ">f+++++++++ 3000000 3000407 clip1.mov\n"
        "\r"
        "        6327680  52%    5.86MB/s    0:00:00  \r"
        "        9000000  75%    5.98MB/s    0:00:01 (xfr#3, to-chk=1/5)\n"
        ">f+++++++++ 3000000 3000407 clip2.mov\n"
        "\r"
        "       12000000 100%    5.89MB/s    0:00:01 (xfr#4, to-chk=0/5)\n"
        ">f+++++++++ 3000000 3000407 clip3.mov\n"
        "\r"
        "       12000000 100%    5.89MB/s    0:00:01 (xfr#4, to-chk=0/5)\n";
    RsyncOutputParser parser(RsyncOutputParser::Mode::transfer);
    std::vector<RsyncEvent> events = parser.feed(output);
    for (RsyncEvent& event : parser.finish()) events.push_back(std::move(event));
    ProgressAggregator aggregator(12'000'000, 4);
    aggregator.expect({"clip3.mov", "clip1.mov", "clip0.mov", "clip2.mov"});
    std::vector<std::pair<std::int64_t, std::optional<std::string>>> seen;  // files done, current file
    for (const RsyncEvent& event : events) {
        if (const ItemizedChange* item = event.asItem(); item && item->code.starts_with(">f")) {
            aggregator.recordFile(item->path);
        } else if (const RsyncProgressSample* sample = event.asProgress()) {
            const SyncProgress p = aggregator.update(sample->bytes, 0.0);
            seen.emplace_back(p.filesDone, p.currentPath);
        }
    }
    using Seen = decltype(seen)::value_type;
    EXPECT_EQ(seen, (decltype(seen){Seen{0, "clip0.mov"}, Seen{0, "clip0.mov"}, Seen{1, "clip1.mov"},
                                     Seen{2, "clip2.mov"}, Seen{2, "clip2.mov"}, Seen{3, "clip3.mov"},
                                     Seen{4, std::nullopt}}));
}

TEST(ProgressAggregator, ANamePassesOverFilesRsyncLeftOutInRsyncsOrderWhichPutsAFoldersFilesFirst) {
    ProgressAggregator aggregator(10, 4);
    aggregator.expect({"b/x", "a", "b/y", "c"});
    EXPECT_EQ(aggregator.currentPath, "a");
    aggregator.recordFile("c");
    EXPECT_EQ(aggregator.currentPath, "b/x");
    aggregator.recordFile("elsewhere");
    EXPECT_EQ(aggregator.currentPath, "b/x");
    aggregator.recordFile("b/y");
    EXPECT_FALSE(aggregator.currentPath);
    // rsync writes a folder's files before its subfolders, in byte order.
    std::vector<std::string> paths{"zz", "sub/x", "b.txt", "z/y", "a.txt", "sub.txt", "A.txt", "sub/a/b", "sub/\xC3\xA9"};
    std::sort(paths.begin(), paths.end(), ProgressAggregator::rsyncOrder);
    EXPECT_EQ(paths, (std::vector<std::string>{"A.txt", "a.txt", "b.txt", "sub.txt", "zz", "sub/x", "sub/\xC3\xA9",
                                               "sub/a/b", "z/y"}));
}

TEST(FileRunLog, AppendsLinesWithLineFeedsAndWriteFailuresThrow) {
    test::TemporaryFolder tmp;
    const auto path = tmp / "run.log";
    {
        FileRunLog log(path);
        log.writeLine("first");
        log.close();
    }
    FileRunLog log(path);
    log.writeLine("second \xE2\x80\x94 line");
    log.writeLine("");
    log.flush();
    EXPECT_EQ(test::readFile(path), "first\nsecond \xE2\x80\x94 line\n\n");
    FileRunLog full("/dev/full");
    full.writeLine("x");  // held back
    try {
        full.flush();
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(e.errorNumber(), ENOSPC);
    }
    FileRunLog again("/dev/full");
    EXPECT_THROW(again.writeLine(std::string(FileRunLog::bufferLimit, 'x')), FileError);
    EXPECT_THROW(FileRunLog("/nonexistent-folder/run.log"), FileError);
    FileRunLog syncing("/dev/full");
    syncing.writeLine("x");
    EXPECT_THROW(syncing.sync(), FileError) << "sync writes what is held back first";
    FileRunLog discarding("/dev/null");
    discarding.writeLine("x");
    EXPECT_NO_THROW(discarding.sync()) << "a file with no disk behind it has nothing to sync";
}

}  // namespace
