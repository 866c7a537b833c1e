#include "SyncModel/Support/FileIO.h"

#include "SyncModel/Support/Uuid.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <csignal>
#include <fstream>
#include <sys/resource.h>

using namespace kelto;

namespace {

namespace fs = std::filesystem;

class FileIOTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("kelto-fileio-" + Uuid::random().lowerString());
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& entry : fs::directory_iterator(folder_)) out.push_back(entry.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    static void put(const fs::path& path, std::string_view bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    fs::path folder_;
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
    EXPECT_EQ(names(), std::vector<std::string>{"jobs.json"});
}

TEST_F(FileIOTest, FailedWriteKeepsTheOldFileWholeAndCleansUp) {
    // The parent "folder" is a regular file: nothing can be created.
    put(folder_ / "plain", "data");
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
    EXPECT_EQ(names(), (std::vector<std::string>{"history.json", "jobs.json", "plain"}));
}

TEST_F(FileIOTest, ReadIfExistsTellsMissingFromUnreadable) {
    EXPECT_EQ(FileIO::readIfExists(folder_ / "missing.json"), std::nullopt);
    EXPECT_EQ(FileIO::readIfExists(folder_ / "no" / "such" / "folder.json"), std::nullopt);
    EXPECT_THROW(FileIO::readIfExists(folder_), FileError);
    put(folder_ / "plain", "x");
    EXPECT_THROW(FileIO::readIfExists(folder_ / "plain" / "child"), FileError);  // ENOTDIR is not "missing"
}

}  // namespace
