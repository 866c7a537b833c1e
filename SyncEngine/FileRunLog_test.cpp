#include "SyncEngine/FileRunLog.h"

#include "SyncEngine/OneWayEngineError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>

using namespace kelto;

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
    // A large batch goes out on its own, and fails there.
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

// A failed scan names rsync's last line; code 20 is a cancellation.
TEST(OneWayEngineError, AScanFailureNamesTheLastLine) {
    EXPECT_STREQ(OneWayEngineError::scanFailed(23, {"one", "rsync error: code 23"}).what(),
                 "rsync could not compare the folders (exit code 23): rsync error: code 23");
    EXPECT_STREQ(OneWayEngineError::scanFailed(20, {}).what(), "Comparing the folders was cancelled.");
}
