// What a run reports as it goes: its progress, and the lines of its log.

#include "SyncEngine/FileRunLog.h"
#include "SyncEngine/OneWayEngineError.h"
#include "SyncEngine/ProgressAggregator.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <algorithm>

using namespace kelto;

namespace {

TEST(ProgressAggregator, RateComesFromTheLastFiveSecondsAndBytesAndFilesNeverGoBackNorPassTheTotal) {
    ProgressAggregator aggregator(1000, 1);
    const SyncProgress first = aggregator.update(0, 0.0);
    EXPECT_EQ(first.fraction, 0.0);
    EXPECT_FALSE(first.bytesPerSecond);  // no time has passed yet
    EXPECT_FALSE(first.eta);
    aggregator.update(200, 2.0);
    aggregator.update(400, 4.0);
    const SyncProgress p = aggregator.update(500, 4.5);
    EXPECT_DOUBLE_EQ(*p.bytesPerSecond, 500.0 / 4.5);
    EXPECT_DOUBLE_EQ(*p.eta, 500.0 / (500.0 / 4.5));
    // A sample exactly five seconds old stays; an older one goes.
    EXPECT_DOUBLE_EQ(*aggregator.update(600, 5.0).bytesPerSecond, 600.0 / 5.0);
    EXPECT_DOUBLE_EQ(*aggregator.update(700, 6.0).bytesPerSecond, 500.0 / 4.0);
    // After a longer pause nothing is left to average over.
    const SyncProgress resumed = aggregator.update(800, 20.0);
    EXPECT_FALSE(resumed.bytesPerSecond);
    EXPECT_FALSE(resumed.eta);
    // Bytes never go back nor pass the total, and a stall has no time left.
    aggregator = ProgressAggregator(1000, 1);
    aggregator.update(600, 0.0);
    const SyncProgress stalled = aggregator.update(300, 1.0);
    EXPECT_EQ(stalled.bytesDone, 600);
    EXPECT_EQ(stalled.bytesPerSecond, 0.0);
    EXPECT_FALSE(stalled.eta);
    const SyncProgress over = aggregator.update(5000, 2.0);
    EXPECT_EQ(over.bytesDone, 1000);
    EXPECT_EQ(over.fraction, 1.0);
    // Empty and negative totals; files done never pass their total, and one received is no longer current.
    ProgressAggregator empty(-5, -1);
    EXPECT_EQ(empty.filesTotal, 0);
    const SyncProgress nothing = empty.update(300, 1.0);
    EXPECT_EQ(nothing.fraction, 1.0);
    EXPECT_EQ(nothing.bytesDone, 0);
    EXPECT_EQ(nothing.bytesTotal, 0);
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

}  // namespace
