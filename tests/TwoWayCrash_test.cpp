// Kills kelto-run-job at seeded random moments of two-way runs: no version may be lost.

#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <random>
#include <set>
#include <thread>

extern char** environ;

namespace kelto::test {
namespace {

constexpr const char* runJob = KELTO_RUN_JOB;

class TwoWayCrashTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path a = tmp / "a", b = tmp / "b", out = tmp / "out.json";
    // The runner, with its temporary files in a folder of the test.
    pid_t start() const {
        return startWithOutput({runJob, "--mode", "twoWay", "--force", a, b, tmp / "support", tmp / "logs"}, tmp / "tmp", out);
    }
    // The run logs so far: each run opens a new one as it begins.
    std::set<fs::path> logs() const {
        std::set<fs::path> found;
        std::error_code ignored;
        for (auto entry = fs::recursive_directory_iterator(tmp / "logs", ignored);
             entry != fs::recursive_directory_iterator(); entry.increment(ignored))
            if (entry->path().extension() == ".log") found.insert(entry->path());
        return found;
    }
    // Waits until the runner began (a new log) or ended, without reaping it.
    void waitForBegin(pid_t pid, const std::set<fs::path>& before) const {
        siginfo_t info{};
        while (logs() == before) {
            info.si_pid = 0;
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
                return;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    // Runs to the end, keeping how long the run took.
    bool runToSuccess() {
        const std::set<fs::path> before = logs();
        const pid_t pid = start();
        waitForBegin(pid, before);
        const auto began = std::chrono::steady_clock::now();
        ::waitpid(pid, nullptr, 0);
        span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - began);
        return contents(out).find("\"outcome\":\"success\"") != std::string::npos;
    }
    std::chrono::microseconds span{1};
    // Ends the rsync children left behind, as the application would.
    void killLeftovers() const {
        for (bool any = true; any; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
            any = false;
            for (const auto& entry : fs::directory_iterator("/proc")) {
                const std::string pid = entry.path().filename();
                if (pid.find_first_not_of("0123456789") == std::string::npos &&
                    contents(entry.path() / "cmdline").find(tmp.path().native()) != std::string::npos) {
                    any = true;
                    ::kill(std::stoi(pid), SIGKILL);
                }
            }
        }
    }
    // Whether the version is on a side or in one of its run archives.
    bool kept(const std::string& path, const std::string& content) const {
        for (const fs::path& side : {a, b}) {
            std::vector<fs::path> places{side};
            if (fs::exists(side / ".KeltoSync" / "Archive"))
                for (const auto& job : fs::directory_iterator(side / ".KeltoSync" / "Archive"))
                    for (const auto& run : fs::directory_iterator(job)) places.push_back(run.path());
            for (const fs::path& place : places)
                if (fs::is_regular_file(place / path) && contents(place / path) == content) return true;
        }
        return false;
    }
};

// Edits, deletions and new files on both sides, and one conflict.
void change(const fs::path& a, const fs::path& b, int trial, std::mt19937& rng) {
    auto pick = [&](unsigned n) { return static_cast<int>(rng() % n); };
    for (int i = 0; i < 4; ++i) {
        const std::string name = "d" + std::to_string(pick(3)) + "/f" + std::to_string(pick(12));
        const fs::path side = pick(2) ? a : b;
        if (fs::exists(side / name) && pick(3) == 0)
            fs::remove(side / name);
        else
            putAt(side / name, name + " v" + std::to_string(trial) + side.filename().native() + std::string(pick(4000), '.'),
                  t0 + trial * 10 + i);
    }
    putAt(a / "d0" / "conflict", "A " + std::to_string(trial), t0 + trial * 10);
    putAt(b / "d0" / "conflict", "B's " + std::to_string(trial), t0 + trial * 10 + pick(3));  // sizes differ
}

TEST_F(TwoWayCrashTest, KillingTheRunnerAtAnyMomentLosesNoVersion) {
    const char* seed = std::getenv("KELTO_CRASH_SEED");
    std::mt19937 rng(seed ? static_cast<unsigned>(std::stoul(seed)) : 20'240'607u);
    for (int i = 0; i < 24; ++i) putAt(a / ("d" + std::to_string(i % 3)) / ("f" + std::to_string(i)), "first", t0);
    fs::create_directories(b);
    ASSERT_TRUE(runToSuccess()) << contents(out);
    // How long a run lasts, to spread the kills over it.
    change(a, b, 0, rng);
    ASSERT_TRUE(runToSuccess()) << contents(out);
    int interrupted = 0;
    for (int trial = 1; trial <= 20; ++trial) {
        change(a, b, trial, rng);
        std::set<std::pair<std::string, std::string>> before;
        for (const fs::path& side : {a, b})
            for (const auto& [path, content] : tree(side))
                if (content != "dir/") before.emplace(path, content);
        const std::set<fs::path> logsBefore = logs();
        const pid_t pid = start();
        waitForBegin(pid, logsBefore);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % static_cast<unsigned>(std::max<std::int64_t>(span.count(), 1))));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        killLeftovers();
        if (contents(out).empty()) ++interrupted;
        ASSERT_TRUE(runToSuccess()) << "trial " << trial << ": " << contents(out);
        ASSERT_TRUE(tree(a) == tree(b)) << "trial " << trial;
        for (const auto& [path, content] : before)
            EXPECT_TRUE(kept(path, content)) << "trial " << trial << " lost " << path << ": " << content.substr(0, 20);
    }
    EXPECT_GT(interrupted, 5);  // most kills land inside a run
}

TEST_F(TwoWayCrashTest, AHardKillMidTransferLeavesNoTemporaryAmongTheFiles) {
    putAt(a / "small", "small", t0);
    fs::create_directories(b);
    ASSERT_TRUE(runToSuccess()) << contents(out);
    {
        fs::create_directories(a / "sub");
        std::ofstream big(a / "sub" / "big", std::ios::binary);
        const std::string block(1 << 20, 'b');
        for (int i = 0; i < 256; ++i) big << block;
    }
    // Killed, rsync included, as soon as it has begun writing the new file.
    const fs::path temporaries = b / ".KeltoSync" / "Temporary";
    const pid_t pid = start();
    bool writing = false;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !writing && std::chrono::steady_clock::now() < until;
         std::this_thread::sleep_for(std::chrono::microseconds(200))) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(temporaries, ignored))
            writing = writing || entry.path().filename().native().starts_with("big.");
    }
    // All at once, as a power loss would.
    std::set<pid_t> groups;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t other = std::stoi(name);
        if (other != pid && contents(entry.path() / "cmdline").find(tmp.path().native()) != std::string::npos)
            if (const pid_t group = ::getpgid(other); group > 0 && group != ::getpgrp()) groups.insert(group);
    }
    for (const pid_t group : groups) ::kill(-group, SIGKILL);
    ::kill(pid, SIGKILL);
    killLeftovers();
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(writing) << "the transfer never began: " << contents(out);
    ASSERT_FALSE(fs::is_empty(temporaries)) << "nothing left to clear";
    for (const auto& [path, content] : tree(b)) EXPECT_TRUE(path == "small" || path == "sub") << path;
    ASSERT_TRUE(runToSuccess()) << contents(out);
    EXPECT_TRUE(tree(a) == tree(b));
    EXPECT_EQ(tree(a).size(), 3u) << "a temporary crossed over";
    EXPECT_TRUE(fs::is_empty(temporaries)) << "the stale temporary stayed";
}

}  // namespace
}  // namespace kelto::test
