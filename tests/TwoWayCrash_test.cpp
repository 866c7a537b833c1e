// Kills kelto-run-job at seeded random moments of two-way runs with changes
// on both sides, then runs it again: no version of any file may be lost, and
// the sides must end equal.

#include "tests/TwoWayEngineFixture.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <random>
#include <thread>

extern char** environ;

namespace kelto::test {
namespace {

#ifdef KELTO_RUN_JOB
constexpr const char* runJob = KELTO_RUN_JOB;
#else
constexpr const char* runJob = nullptr;
#endif

class TwoWayCrashTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path a = tmp / "a", b = tmp / "b", support = tmp / "support", logs = tmp / "logs", temp = tmp / "tmp";

    void SetUp() override {
        for (const fs::path& folder : {a, b, support, logs, temp}) fs::create_directories(folder);
    }

    // Starts the runner on the two folders; its temporary files stay in `temp`.
    pid_t start() const {
        std::vector<std::string> args{runJob, "--mode", "twoWay", "--archive", "on", "--force",
                                      a.native(), b.native(), support.native(), logs.native()};
        std::vector<std::string> env{"TMPDIR=" + temp.native()};
        for (char** e = environ; *e; ++e)
            if (!std::string_view(*e).starts_with("TMPDIR=")) env.emplace_back(*e);
        std::vector<char*> argv, envp;
        for (auto& s : args) argv.push_back(s.data());
        for (auto& s : env) envp.push_back(s.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (tmp / "out.json").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        const int rc = posix_spawn(&pid, runJob, &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) throw std::runtime_error("cannot start the runner");
        return pid;
    }

    int runToEnd() const {
        int status = 0;
        ::waitpid(start(), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // The rsync children outlive the killed runner (each has its own process
    // group); they are ended too, as the end of the application would.
    void killLeftovers() const {
        for (int round = 0; round < 200; ++round) {
            bool any = false;
            for (const auto& entry : fs::directory_iterator("/proc")) {
                const std::string name = entry.path().filename();
                if (name.find_first_not_of("0123456789") != std::string::npos) continue;
                const std::string command = contents(entry.path() / "cmdline");
                if (command.find(tmp.path().native()) == std::string::npos) continue;
                any = true;
                ::kill(std::stoi(name), SIGKILL);
            }
            if (!any) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Every (path, content) of both sides, the reserved folder left out.
    std::set<std::pair<std::string, std::string>> versions() const {
        std::set<std::pair<std::string, std::string>> out;
        for (const fs::path* side : {&a, &b})
            for (const auto& [path, content] : tree(*side))
                if (content != "dir/") out.emplace(path, content);
        return out;
    }

    // Whether the version is on a side or in one of its run archives.
    bool kept(const std::pair<std::string, std::string>& version) const {
        for (const fs::path* side : {&a, &b}) {
            if (fs::is_regular_file(*side / version.first) && contents(*side / version.first) == version.second)
                return true;
            const fs::path archive = *side / ".KeltoSync" / "Archive";
            if (!fs::exists(archive)) continue;
            for (const auto& job : fs::directory_iterator(archive))
                for (const auto& run : fs::directory_iterator(job.path()))
                    if (fs::is_regular_file(run.path() / version.first) &&
                        contents(run.path() / version.first) == version.second)
                        return true;
        }
        return false;
    }
};

// The paths whose entries differ, for a short failure message.
std::string differences(const std::map<std::string, std::string>& x, const std::map<std::string, std::string>& y) {
    std::string out;
    for (const auto& [path, content] : x)
        if (!y.contains(path) || y.at(path) != content) out += path + " ";
    for (const auto& [path, content] : y)
        if (!x.contains(path)) out += path + " ";
    return out;
}

// Changes both sides: edits, deletions, new files and one conflict.
void change(const fs::path& a, const fs::path& b, int trial, std::mt19937& rng) {
    const std::string tag = "v" + std::to_string(trial);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    for (int i = 0; i < 4; ++i) {
        const std::string name = "d" + std::to_string(pick(3)) + "/f" + std::to_string(pick(12));
        const fs::path& side = pick(2) ? a : b;
        if (fs::exists(side / name) && pick(3) == 0)
            fs::remove(side / name);
        else
            putAt(side / name, name + " " + tag + (&side == &a ? "A" : "B") + std::string(pick(4000), '.'),
                  1'600'000'000 + trial * 10 + i);
    }
    const std::string both = "d0/conflict";
    putAt(a / both, "A " + tag, 1'600'000'000 + trial * 10);
    putAt(b / both, "B's " + tag, 1'600'000'000 + trial * 10 + pick(3));  // sizes differ, times may not
}

TEST_F(TwoWayCrashTest, KillingTheRunnerAtAnyMomentLosesNoVersion) {
    if (!runJob) GTEST_SKIP() << "kelto-run-job is not built";
    const char* seedText = std::getenv("KELTO_CRASH_SEED");
    std::mt19937 rng(seedText ? static_cast<unsigned>(std::stoul(seedText)) : 20'240'607u);
    int interrupted = 0;
    for (int i = 0; i < 24; ++i)
        putAt(a / ("d" + std::to_string(i % 3)) / ("f" + std::to_string(i)), "first " + std::to_string(i),
              1'600'000'000);
    ASSERT_EQ(runToEnd(), 0);
    ASSERT_EQ(differences(tree(a), tree(b)), "");

    // How long a run lasts, to spread the kills over it.
    change(a, b, 0, rng);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(runToEnd(), 0);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);

    for (int trial = 1; trial <= 20; ++trial) {
        change(a, b, trial, rng);
        const auto before = versions();
        const pid_t pid = start();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % static_cast<unsigned>(span.count())));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        killLeftovers();
        if (contents(tmp / "out.json").empty()) ++interrupted;

        ASSERT_EQ(runToEnd(), 0) << contents(tmp / "out.json");
        EXPECT_NE(contents(tmp / "out.json").find("\"outcome\":\"success\""), std::string::npos)
            << "trial " << trial << ": " << contents(tmp / "out.json");
        ASSERT_EQ(differences(tree(a), tree(b)), "") << "trial " << trial;
        for (const auto& version : before)
            EXPECT_TRUE(kept(version)) << "trial " << trial << " lost " << version.first << ": " << version.second;
    }
    RecordProperty("interrupted", interrupted);
    EXPECT_GT(interrupted, 5);  // most kills land inside a run
}

}  // namespace
}  // namespace kelto::test
