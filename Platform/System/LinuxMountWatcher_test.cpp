#include "Platform/System/LinuxMountWatcher.h"

#include <gtest/gtest.h>
#include <thread>

using namespace kelto;

namespace {

TEST(LinuxMountWatcherTest, AStopEndsTheWait) {
    LinuxMountWatcher watcher;
    EXPECT_TRUE(watcher.isWatching());
    std::stop_source stop;
    std::jthread stopper([&] { stop.request_stop(); });
    // Mounts by tests running beside this one may wake it first.
    while (watcher.wait(stop.get_token())) {
    }
    EXPECT_TRUE(stop.stop_requested());
    EXPECT_FALSE(watcher.wait(stop.get_token()));
}

}  // namespace
