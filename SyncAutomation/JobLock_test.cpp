#include "SyncAutomation/JobLock.h"

#include "SyncAutomation/AutomationFakes_test.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelto {
namespace {

namespace fs = std::filesystem;

TEST(JobLockTest, OneHolderAtATimeNotAChildOfItsProcessAndTheFileStaysOrAnErrorNamingIt) {
    test::TemporaryFolder tmp;
    const fs::path file = tmp / "state/JOB.lock";
    std::optional<JobLock> first = JobLock::tryTake(file);
    ASSERT_TRUE(first);
    EXPECT_FALSE(JobLock::tryTake(file));
    EXPECT_TRUE(JobLock::tryTake(tmp / "state/OTHER.lock"));
    // rsync children outlive a killed run now and then; they must not keep its job locked.
    pid_t sleeper = -1;
    const char* argv[] = {"/bin/sleep", "60", nullptr};
    ASSERT_EQ(::posix_spawn(&sleeper, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    first->release();
    EXPECT_TRUE(fs::exists(file));
    std::optional<JobLock> second = JobLock::tryTake(file);
    EXPECT_TRUE(second);
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    second.reset();
    EXPECT_TRUE(JobLock::tryTake(file));
    fs::create_directories(tmp / "JOB2.lock");
    const auto error = test::thrownBy<FileError>([&] { JobLock::tryTake(tmp / "JOB2.lock"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::pair(error->errorNumber(), error->path()), std::pair(EISDIR, tmp / "JOB2.lock"));
    // Another process holds it until it is killed.
    int held[2];
    ASSERT_EQ(::pipe2(held, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::optional<JobLock> lock = JobLock::tryTake(file);
        const char answer = lock ? 'y' : 'n';
        [[maybe_unused]] const auto written = ::write(held[1], &answer, 1);
        ::pause();  // until killed
        ::_exit(0);
    }
    ::close(held[1]);
    char answer = 0;
    ASSERT_EQ(::read(held[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    EXPECT_FALSE(JobLock::tryTake(file));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(JobLock::tryTake(file));
    ::close(held[0]);
}

}  // namespace
}  // namespace kelto
