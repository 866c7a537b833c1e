#include "SyncEngine/ExitClass.h"

#include <gtest/gtest.h>

using namespace kelto;

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
    std::vector<std::string> lines;
    for (int i = 1; i <= 51; ++i) lines.push_back("line " + std::to_string(i));
    const RsyncExit many(12, lines);
    ASSERT_EQ(many.stderrTail.size(), 50u);
    EXPECT_EQ(many.stderrTail.front(), "line 2");
    EXPECT_EQ(many.stderrTail.back(), "line 51");
    lines.pop_back();
    EXPECT_EQ(RsyncExit(0, lines).stderrTail, lines);
}
