// User exclude patterns against the real rsync never clear the rules, include, or expose the reserved name.

#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "tests/RealRsync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

using namespace kelto;
using namespace kelto::testing;
namespace fs = std::filesystem;

namespace {

void write(const fs::path& file, std::string_view text = "x") {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

RsyncInvocation mirror(const fs::path& source, const fs::path& destination, std::vector<std::string> patterns) {
    VolumeIdentity ext4;
    ext4.fileSystem = "ext4";
    RsyncInvocation i;
    i.operation = RsyncOperation::mirror();
    i.source = source;
    i.destination = destination;
    i.traits = FileSystemTraits::forVolume(ext4);
    i.filters.patterns = std::move(patterns);
    return i;
}

// The same arguments with the patterns passed as bare --exclude values.
std::vector<std::string> withBarePatterns(std::vector<std::string> args) {
    for (auto& a : args)
        if (a.starts_with("--exclude=- ")) a = "--exclude=" + a.substr(12);
    return args;
}

std::vector<ItemizedChange> items(const std::string& output) {
    RsyncOutputParser parser(RsyncOutputParser::Mode::transfer);
    std::vector<ItemizedChange> out;
    auto keep = [&](RsyncEvent&& e) {
        if (auto* i = e.asItem()) out.push_back(*i);
    };
    parser.feed(output, keep);
    parser.finish(keep);
    return out;
}

bool touches(const std::vector<ItemizedChange>& changes, std::string_view prefix) {
    return std::any_of(changes.begin(), changes.end(), [&](const auto& c) { return c.path.starts_with(prefix); });
}

}  // namespace

// Bare, "!" clears the rules and "+ x" includes; as passed, both are literal names.
TEST(RsyncExcludeRules, BangAndPlusPatternsCannotExposeTheArchiveOrInclude) {
    TemporaryFolder tmp;
    const fs::path src = tmp.path() / "src", dst = tmp.path() / "dst";
    for (const char* name : {"a", "!", "x", "+ x", "Icon\r"}) write(src / name);
    const fs::path archived = dst / ".KeltoSync/Archive/JOB/2026-01-01_000000-0000abcd/old.txt";
    write(archived, "precious");
    auto invocation = mirror(src, dst, {"!", "+ x", "x"});
    invocation.filters.useDefaultExcludes = true;
    invocation.dryRun = true;
    const auto args = RsyncArguments::build(invocation);
    const auto bare = runRealRsync(withBarePatterns(args));
    ASSERT_EQ(bare.code, 0) << bare.err;
    ASSERT_TRUE(touches(items(bare.out), ".KeltoSync/")) << bare.out;
    ASSERT_TRUE(touches(items(bare.out), "x")) << bare.out;
    const auto dry = runRealRsync(args);
    ASSERT_EQ(dry.code, 0) << dry.err;
    EXPECT_FALSE(touches(items(dry.out), ".KeltoSync/")) << dry.out;
    invocation.dryRun = false;
    const auto real = runRealRsync(RsyncArguments::build(invocation));
    ASSERT_EQ(real.code, 0) << real.err;
    EXPECT_TRUE(fs::exists(archived));
    EXPECT_TRUE(fs::exists(dst / "a"));
    for (const char* excluded : {"!", "x", "+ x", "Icon\r"}) EXPECT_FALSE(fs::exists(dst / excluded)) << excluded;
}

TEST(RsyncExcludeRules, OddPatternsAreAcceptedLiterally) {
    TemporaryFolder tmp;
    const fs::path src = tmp.path() / "src", dst = tmp.path() / "dst";
    for (const char* name : {" lead", "trail ", "- dash", "keep"}) write(src / name);
    const auto args = RsyncArguments::build(mirror(src, dst, {" lead", "trail ", "- dash", ""}));
    const auto run = runRealRsync(args);
    ASSERT_EQ(run.code, 0) << run.err;
    std::vector<std::string> copied;
    for (const auto& e : fs::directory_iterator(dst)) copied.push_back(e.path().filename());
    EXPECT_EQ(copied, std::vector<std::string>{"keep"});
}

namespace {

enum class Kind { file, link, folder };

// Puts an item of the kind at `path`; a folder holds one file.
void make(const fs::path& path, Kind kind) {
    switch (kind) {
    case Kind::file: write(path, "a file"); break;
    case Kind::link: fs::create_directory_symlink("elsewhere", path); break;
    case Kind::folder: write(path / "inside", "a folder"); break;
    }
}

// The item's kind as the disk has it now, not following a link.
std::string kindAt(const fs::path& path) {
    const fs::file_status status = fs::symlink_status(path);
    if (fs::is_symlink(status)) return "link";
    if (fs::is_directory(status)) return "folder";
    if (fs::is_regular_file(status)) return "file";
    return "nothing";
}

}  // namespace

// The reserved name is excluded whatever stands there on either side, whatever the patterns.
TEST(RsyncExcludeRules, TheReservedNameIsExcludedWhateverItsKind) {
    for (const Kind kind : {Kind::file, Kind::link, Kind::folder}) {
        for (const std::vector<std::string>& patterns :
             {std::vector<std::string>{}, std::vector<std::string>{"!", "+ .KeltoSync", "+ /.KeltoSync"}}) {
            SCOPED_TRACE(static_cast<int>(kind));
            SCOPED_TRACE(patterns.size());
            TemporaryFolder tmp;
            const fs::path src = tmp.path() / "src", dst = tmp.path() / "dst";
            write(src / "a");
            // On A: B's archive stays as it is.
            make(src / ".KeltoSync", kind);
            const fs::path archived = dst / ".KeltoSync/Archive/JOB/2026-01-01_000000-0000abcd/old.txt";
            write(archived, "precious");
            auto invocation = mirror(src, dst, patterns);
            invocation.dryRun = true;
            const auto dry = runRealRsync(RsyncArguments::build(invocation));
            ASSERT_EQ(dry.code, 0) << dry.err;
            EXPECT_FALSE(touches(items(dry.out), ".KeltoSync")) << dry.out;
            invocation.dryRun = false;
            const auto real = runRealRsync(RsyncArguments::build(invocation));
            ASSERT_EQ(real.code, 0) << real.err;
            EXPECT_EQ(test::readFile(archived), "precious");
            EXPECT_TRUE(fs::exists(dst / "a"));
            // On B, with nothing of that name on A: B's item stays.
            fs::remove_all(src / ".KeltoSync");
            fs::remove_all(dst / ".KeltoSync");
            make(dst / ".KeltoSync", kind);
            const auto again = runRealRsync(RsyncArguments::build(invocation));
            ASSERT_EQ(again.code, 0) << again.err;
            EXPECT_EQ(kindAt(dst / ".KeltoSync"), kind == Kind::file ? "file" : kind == Kind::link ? "link" : "folder");
        }
    }
}
