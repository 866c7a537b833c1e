// Where rsync keeps unfinished files, against the real rsync: dry runs print
// the same with and without the scratch folders, and the temporary folder is
// given only when rsync can rename out of it.

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/TransferScratch.h"
#include "tests/OneWayEngineFixture.h"
#include "tests/RealRsync.h"

using namespace kelto;
using namespace kelto::testing;
using kelto::test::put;
using kelto::test::putFiles;
namespace fs = std::filesystem;

namespace {

RsyncInvocation invocation(RsyncOperation operation, const fs::path& source, const fs::path& destination) {
    RsyncInvocation i;
    i.operation = std::move(operation);
    i.source = source;
    i.destination = destination;
    i.traits = test::traitsOf("ext4");
    return i;
}

fs::path temporaries(const fs::path& root) { return root / TransferScratch::temporaryRelativePath(); }

class TransferScratchTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path src = tmp / "src", dst = tmp / "dst";
};

}  // namespace

TEST_F(TransferScratchTest, DryRunsAndListingsPrintTheSameWithoutTheScratchFolders) {
    putFiles(src, {{"changed", "new content"}, {"sub/new", "fresh"}, {"same", "x"}});
    putFiles(dst, {{"changed", "old"}, {"same", "x"}, {"gone", "x"}});
    // Leftovers of an interrupted transfer, under the names rsync gives them.
    putFiles(TransferScratch::partialFolder(dst), {{"changed", "new c"}, {"new", "fr"}});
    put(temporaries(dst) / "changed.Ab12Cd", "n");

    for (RsyncOperation operation : {RsyncOperation::mirror(), RsyncOperation::copy()}) {
        RsyncInvocation plain = invocation(operation, src, dst);
        plain.dryRun = true;
        RsyncInvocation scratch = plain;
        scratch.partialDirectory = TransferScratch::partialFolder(dst);
        scratch.temporaryDirectory = TransferScratch::temporaryRelativePath();
        const RsyncOutput without = runRealRsync(RsyncArguments::build(plain));
        const RsyncOutput with = runRealRsync(RsyncArguments::build(scratch));
        ASSERT_EQ(without.code + with.code, 0) << without.err << with.err;
        EXPECT_NE(without.out.find("changed"), std::string::npos);
        EXPECT_EQ(without.out, with.out);
    }

    RsyncInvocation listing = invocation(RsyncOperation::listOnly(), dst, {});
    listing.destination.reset();
    RsyncInvocation listingWith = listing;
    listingWith.partialDirectory = TransferScratch::partialFolder(dst);
    EXPECT_EQ(runRealRsync(RsyncArguments::build(listing)).out, runRealRsync(RsyncArguments::build(listingWith)).out);
}

TEST_F(TransferScratchTest, OnlyATransferThatWritesFilesGetsScratchFolders) {
    fs::create_directories(temporaries(dst));
    RsyncInvocation transfer = invocation(RsyncOperation::mirror(), src, dst);
    TransferScratch::assign(transfer, dst, {});
    EXPECT_FALSE(transfer.partialDirectory || transfer.temporaryDirectory);
    // A list that may be older than the files a copy job finds gets them anyway.
    RsyncInvocation copy = invocation(RsyncOperation::copy(), src, dst);
    TransferScratch::assign(copy, dst, {}, false);
    EXPECT_TRUE(copy.partialDirectory && copy.temporaryDirectory);
    TransferScratch::assign(transfer, dst, {"file"});
    ASSERT_TRUE(transfer.partialDirectory.has_value());
    EXPECT_TRUE(transfer.partialDirectory->is_absolute());
    EXPECT_EQ(transfer.temporaryDirectory, TransferScratch::temporaryRelativePath());
    // Files too small to resume need no partial folder, which costs a lookup per file compared.
    RsyncInvocation small = invocation(RsyncOperation::mirror(), src, dst);
    TransferScratch::assign(small, dst, {"file"}, true, TransferScratch::resumableSize - 1);
    EXPECT_FALSE(small.partialDirectory);
    EXPECT_EQ(small.temporaryDirectory, TransferScratch::temporaryRelativePath());
    TransferScratch::assign(small, dst, {"file"}, true, TransferScratch::resumableSize);
    EXPECT_TRUE(small.partialDirectory);
}

TEST_F(TransferScratchTest, TransfersIntoSubFoldersLeaveTheScratchFoldersEmpty) {
    put(src / "a/b/deep", "deep");
    put(src / "top", "top");
    put(dst / "top", "old top");
    ArchiveDirectories::prepareTree(dst, Uuid::random(), "2025-03-07_141503-0a1b2c3d");
    RsyncInvocation transfer = invocation(RsyncOperation::mirror(), src, dst);
    transfer.partialDirectory = TransferScratch::partialFolder(dst);
    transfer.temporaryDirectory = TransferScratch::temporaryFolderFor(dst, {"a/b/deep", "top"});
    ASSERT_EQ(transfer.temporaryDirectory, TransferScratch::temporaryRelativePath());

    const RsyncOutput result = runRealRsync(RsyncArguments::build(transfer));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(test::readFile(dst / "a/b/deep") + test::readFile(dst / "top"), "deeptop");
    EXPECT_TRUE(fs::is_empty(temporaries(dst)) && fs::is_empty(TransferScratch::partialFolder(dst)));
}

TEST_F(TransferScratchTest, NoTemporaryFolderForFilesOnAnotherMount) {
    put(dst / "here/file");
    fs::create_directories(temporaries(dst));
    fs::create_directories(dst / "elsewhere");
    test::TestMounts mounts;
    if (!mounts.tmpfs(dst / "elsewhere")) GTEST_SKIP() << "mounting a tmpfs needs root";
    fs::create_directories(dst / "elsewhere/inner");

    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"top", "here/file", "here/new/deeper/file"}),
              TransferScratch::temporaryRelativePath());
    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"here/file", "elsewhere/inner/file"}), std::nullopt);
    // A folder the transfer makes lands on its nearest existing ancestor's mount.
    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"elsewhere/new/file"}), std::nullopt);
    EXPECT_EQ(TransferScratch::temporaryFolderFor(dst, {"elsewhere"}), TransferScratch::temporaryRelativePath());

    // And rsync, given no temporary folder, still renames within that mount.
    put(src / "elsewhere/inner/file", "newer");
    put(dst / "elsewhere/inner/file", "old");
    RsyncInvocation transfer = invocation(RsyncOperation::copy(), src, dst);
    transfer.partialDirectory = TransferScratch::partialFolder(dst);
    transfer.temporaryDirectory = TransferScratch::temporaryFolderFor(dst, {"elsewhere/inner/file"});
    const RsyncOutput result = runRealRsync(RsyncArguments::build(transfer));
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(test::readFile(dst / "elsewhere/inner/file"), "newer");
}

TEST_F(TransferScratchTest, AClaimClearsLeftoversOnlyWhenNoOtherRunHoldsTheFolder) {
    fs::create_directories(temporaries(dst));
    put(temporaries(dst) / "big.a1B2c3", "half");
    put(tmp / "outside/keep", "keep");
    fs::create_directory_symlink(tmp / "outside", temporaries(dst) / "link");
    fs::create_directories(temporaries(dst) / "folder/inner");
    {
        const TransferScratch::Claim first = TransferScratch::claim(dst);
        EXPECT_TRUE(first.leftovers().empty());
        EXPECT_TRUE(fs::is_empty(temporaries(dst)));
        EXPECT_EQ(test::readFile(tmp / "outside/keep"), "keep");

        // Another run's files in the making stay while it holds its claim.
        put(temporaries(dst) / "inflight.Xy12Zq", "writing");
        const TransferScratch::Claim second = TransferScratch::claim(dst);
        EXPECT_TRUE(fs::exists(temporaries(dst) / "inflight.Xy12Zq"));
    }
    const TransferScratch::Claim later = TransferScratch::claim(dst);
    EXPECT_TRUE(fs::is_empty(temporaries(dst)));

    fs::remove_all(dst / ".KeltoSync");
    EXPECT_THROW(TransferScratch::claim(dst), FileError);  // the reserved tree is made first
}
