#include "SyncModel/Support/FileIO.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <csignal>
#include <sys/resource.h>

using namespace kelto;

namespace {

namespace fs = std::filesystem;

using Names = std::set<std::string>;

class FileIOTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    const fs::path folder_ = folder.path();
    Names names() const { return test::namesIn(folder_); }
};

TEST_F(FileIOTest, WriteAtomicallyCreatesAndReplacesLeavingNoTemporaryFiles) {
    const fs::path file = folder_ / "jobs.json";
    FileIO::writeAtomically(file, "first");
    EXPECT_EQ(FileIO::readIfExists(file), "first");
    const std::string binary("\0\xff\r\n second", 10);
    FileIO::writeAtomically(file, binary);
    EXPECT_EQ(FileIO::readIfExists(file), binary);
    const std::string large(300'000, 'x');  // more than one read buffer
    FileIO::writeAtomically(file, large);
    EXPECT_EQ(FileIO::readIfExists(file), large);
    EXPECT_EQ(names(), Names{"jobs.json"});
}

TEST_F(FileIOTest, FailedWriteKeepsTheOldFileWholeAndCleansUp) {
    // The parent "folder" is a regular file: nothing can be created.
    folder.write("plain", "data");
    EXPECT_THROW(FileIO::writeAtomically(folder_ / "plain" / "jobs.json", "new"), FileError);
    EXPECT_EQ(FileIO::readIfExists(folder_ / "plain"), "data");
    // A folder in the target's place: the rename fails and the folder stays.
    fs::create_directories(folder_ / "history.json" / "inner");
    EXPECT_THROW(FileIO::writeAtomically(folder_ / "history.json", "new"), FileError);
    EXPECT_TRUE(fs::is_directory(folder_ / "history.json" / "inner"));
    // Writing the content itself fails part way (file size limit): the old file stays whole.
    const fs::path file = folder_ / "jobs.json";
    FileIO::writeAtomically(file, "old content");
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previousLimit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previousLimit), 0);
    rlimit small = previousLimit;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        FileIO::writeAtomically(file, std::string(100'000, 'n'));
    } catch (const FileError& error) {
        threw = error.errorNumber() == EFBIG;
    }
    ::setrlimit(RLIMIT_FSIZE, &previousLimit);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(FileIO::readIfExists(file), "old content");
    EXPECT_EQ(names(), (Names{"history.json", "jobs.json", "plain"}));
}

TEST_F(FileIOTest, ReadIfExistsTellsMissingFromUnreadable) {
    EXPECT_EQ(FileIO::readIfExists(folder_ / "missing.json"), std::nullopt);
    EXPECT_EQ(FileIO::readIfExists(folder_ / "no" / "such" / "folder.json"), std::nullopt);
    EXPECT_THROW(FileIO::readIfExists(folder_), FileError);
    folder.write("plain");
    EXPECT_THROW(FileIO::readIfExists(folder_ / "plain" / "child"), FileError);  // ENOTDIR is not "missing"
}

}  // namespace
