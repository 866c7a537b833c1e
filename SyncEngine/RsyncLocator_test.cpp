#include "SyncEngine/RsyncLocator.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fstream>

using namespace kelto;

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
