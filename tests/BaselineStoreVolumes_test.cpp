#include "SyncEngine/BaselineStore.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>

using namespace kelto;
namespace fs = std::filesystem;

// A store's failure names the file and the system's reason, and offers no move aside.
void expectNamed(const std::function<void()>& use, const fs::path& file, int reason) {
    try {
        use();
        ADD_FAILURE() << "no failure";
    } catch (const BaselineStoreError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with("The baseline file " + file.string() + " could not be read or written ("))
            << message;
        EXPECT_NE(message.find(std::strerror(reason)), std::string::npos) << message;
        EXPECT_EQ(message.find("Move it aside"), std::string::npos) << message;
    }
}

const Baseline saved{{"a", {EntryKind::file, 1, 2}}};

// exFAT through FUSE has neither no-replace rename nor hard links: a baseline is made all the same.
TEST(BaselineStoreVolumes, ABaselineIsMadeWhereNoMoveCanRefuseAnExistingName) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    test::TemporaryFolder folder;
    test::TestMounts mounts;
    fs::create_directories(folder / "E");
    ASSERT_TRUE(mounts.exfat(folder / "exfat.img", folder / "E"));
    const fs::path file = folder / "E/state/JOB.sqlite";
    BaselineStore(file, false).save(saved, "X", std::nullopt, SideCounts{1, 0});
    EXPECT_TRUE(BaselineStore(file, false).isRecordedFor("X", std::nullopt));
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}

// A baseline on a disk failing with I/O errors is named and kept, and loads once the disk is back.
TEST(BaselineStoreVolumes, ABaselineOnAFailingDiskIsNamedAndKept) {
    std::string whyNot;
    const std::unique_ptr<test::Ext4Volume> volume = test::Ext4Volume::make(whyNot);
    if (!volume) GTEST_SKIP() << whyNot;
    const fs::path file = *volume / "state/JOB.sqlite";
    BaselineStore(file, false).save(saved, "X", std::nullopt, SideCounts{1, 0});
    {
        const FileDescriptor root(::open(volume->path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        std::uint32_t afterWritingEverything = 0;
        constexpr unsigned long shutDown = _IOR('X', 125, std::uint32_t);
        ASSERT_EQ(::ioctl(root.get(), shutDown, &afterWritingEverything), 0) << std::strerror(errno);
    }
    for (const bool readOnly : {true, false})
        expectNamed([&] { BaselineStore(file, readOnly).load("X", std::nullopt); }, file, EIO);
    ASSERT_TRUE(volume->remountElsewhere());
    EXPECT_EQ(BaselineStore(*volume / "state/JOB.sqlite", true).load("X", std::nullopt), saved);
}

// A baseline on a read-only disk is no other user's: the message says what is wrong.
TEST(BaselineStoreVolumes, ABaselineOnAReadOnlyDiskIsNamedAsSuchAndKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    test::TemporaryFolder folder;
    const fs::path file = folder / "state/JOB.sqlite";
    BaselineStore(file, false).save(saved, "X", std::nullopt, SideCounts{1, 0});
    test::TestMounts mounts;
    ASSERT_TRUE(mounts.mount({"mount", "-o", "bind,ro", (folder / "state").native(), (folder / "state").native()},
                             folder / "state"));
    expectNamed([&] { BaselineStore(file, false).save(Baseline{}, "X", std::nullopt, SideCounts{0, 0}); }, file, EROFS);
    EXPECT_EQ(BaselineStore(file, true).load("X", std::nullopt), saved);
}
