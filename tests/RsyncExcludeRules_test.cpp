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
    RsyncInvocation i;
    i.operation = RsyncOperation::mirror();
    i.source = source;
    i.destination = destination;
    VolumeIdentity ext4;
    ext4.fileSystem = "ext4";
    i.traits = FileSystemTraits::forVolume(ext4);
    i.filters.patterns = std::move(patterns);
    return i;
}

// Whether the run's itemised output names a path starting with `prefix`.
bool touches(const RsyncOutput& run, std::string_view prefix) {
    RsyncOutputParser parser(RsyncOutputParser::Mode::transfer);
    bool found = false;
    auto look = [&](RsyncEvent&& e) {
        if (auto* i = e.asItem()) found = found || i->path.starts_with(prefix);
    };
    parser.feed(run.out, look);
    parser.finish(look);
    return found;
}

const char* const archivedPath = ".KeltoSync/Archive/JOB/2026-01-01_000000-0000abcd/old.txt";

}  // namespace

// Bare, "!" clears the rules and "+ x" includes; as passed, these and names
// with odd spaces or dashes are literal names, and an empty one excludes nothing.
TEST(RsyncExcludeRules, BangAndPlusPatternsCannotExposeTheArchiveOrInclude) {
    TemporaryFolder tmp;
    const fs::path src = tmp.path() / "src", dst = tmp.path() / "dst";
    for (const char* name : {"a", "!", "x", "+ x", "Icon\r", " lead", "trail ", "- dash"}) write(src / name);
    write(dst / archivedPath, "precious");
    auto invocation = mirror(src, dst, {"!", "+ x", "x", " lead", "trail ", "- dash", ""});
    invocation.filters.useDefaultExcludes = true;
    invocation.dryRun = true;
    auto args = RsyncArguments::build(invocation);
    const auto dry = runRealRsync(args);
    ASSERT_EQ(dry.code, 0) << dry.err;
    EXPECT_FALSE(touches(dry, ".KeltoSync/")) << dry.out;
    for (auto& a : args)  // the same patterns as bare --exclude values
        if (a.starts_with("--exclude=- ")) a = "--exclude=" + a.substr(12);
    const auto bare = runRealRsync(args);
    ASSERT_EQ(bare.code, 0) << bare.err;
    ASSERT_TRUE(touches(bare, ".KeltoSync/") && touches(bare, "x")) << bare.out;
    invocation.dryRun = false;
    const auto real = runRealRsync(RsyncArguments::build(invocation));
    ASSERT_EQ(real.code, 0) << real.err;
    EXPECT_EQ(test::readFile(dst / archivedPath), "precious");
    EXPECT_EQ(test::namesIn(dst), (std::set<std::string>{".KeltoSync", "a"}));
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

}  // namespace

// The reserved name is excluded whatever stands there on either side, whatever the patterns.
TEST(RsyncExcludeRules, TheReservedNameIsExcludedWhateverItsKind) {
    for (const Kind kind : {Kind::file, Kind::link, Kind::folder}) {
        for (const std::vector<std::string>& patterns :
             {std::vector<std::string>{}, std::vector<std::string>{"!", "+ .KeltoSync", "+ /.KeltoSync"}}) {
            SCOPED_TRACE(::testing::Message() << static_cast<int>(kind) << " " << patterns.size());
            TemporaryFolder tmp;
            const fs::path src = tmp.path() / "src", dst = tmp.path() / "dst";
            write(src / "a");
            make(src / ".KeltoSync", kind);  // on A: B's archive stays as it is
            write(dst / archivedPath, "precious");
            auto invocation = mirror(src, dst, patterns);
            invocation.dryRun = true;
            const auto dry = runRealRsync(RsyncArguments::build(invocation));
            ASSERT_EQ(dry.code, 0) << dry.err;
            EXPECT_FALSE(touches(dry, ".KeltoSync")) << dry.out;
            invocation.dryRun = false;
            const auto real = runRealRsync(RsyncArguments::build(invocation));
            ASSERT_EQ(real.code, 0) << real.err;
            EXPECT_EQ(test::readFile(dst / archivedPath), "precious");
            EXPECT_TRUE(fs::exists(dst / "a"));
            // On B, with nothing of that name on A: B's item stays.
            fs::remove_all(src / ".KeltoSync");
            fs::remove_all(dst / ".KeltoSync");
            make(dst / ".KeltoSync", kind);
            const auto again = runRealRsync(RsyncArguments::build(invocation));
            ASSERT_EQ(again.code, 0) << again.err;
            const auto status = fs::symlink_status(dst / ".KeltoSync");
            EXPECT_TRUE(kind == Kind::link ? fs::is_symlink(status)
                        : kind == Kind::folder ? fs::is_directory(status) : fs::is_regular_file(status));
        }
    }
}
