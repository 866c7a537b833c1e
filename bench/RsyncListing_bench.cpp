// Lists a generated tree of 100,000 files through RsyncProcess (parsing every
// line) and with the same rsync command writing to /dev/null, and prints both
// wall times and their ratio.
//
//   RsyncListingBench [tree folder] [file count] [rounds]

#include "SyncEngine/RsyncArguments.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

using namespace kelto;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void generateTree(const fs::path& root, int files) {
    const auto marker = root / (".complete-" + std::to_string(files));
    if (fs::exists(marker)) return;
    fs::remove_all(root);
    constexpr int perFolder = 200;
    for (int i = 0; i < files; ++i) {
        const auto folder = root / ("folder " + std::to_string(i / perFolder));
        if (i % perFolder == 0) fs::create_directories(folder);
        const auto file = folder / ("file-" + std::to_string(i) + (i % 7 ? ".txt" : " with spaces.dat"));
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot create " + file.string());
        ::close(fd);
    }
    ::close(::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
}

// The same command with its output thrown away: rsync's own cost.
double runToDevNull(const fs::path& rsync, const std::vector<std::string>& args) {
    std::vector<std::string> argStrings{rsync.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings{"LC_ALL=C", "TZ=UTC0"};
    for (char** e = environ; *e; ++e)
        if (std::string_view(*e).rfind("LC_ALL=", 0) != 0 && std::string_view(*e).rfind("TZ=", 0) != 0)
            envStrings.emplace_back(*e);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, rsync.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
        throw std::runtime_error("cannot start rsync");
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("rsync failed");
    return seconds;
}

double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// This process's own processor time in the runs through RsyncProcess.
double ownCpu = 0;

double runThroughProcess(const RsyncProcess& process, const std::vector<std::string>& args, long expectedEntries) {
    long entries = 0, diagnostics = 0;
    const double cpuStart = cpuSeconds();
    const auto start = Clock::now();
    const auto exit = process.run(args, RsyncOutputParser::Mode::listOnly, {}, nullptr, [&](RsyncEvent&& event) {
        if (event.asListEntry()) ++entries;
        else ++diagnostics;
    });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ownCpu += cpuSeconds() - cpuStart;
    if (exit.code != 0) throw std::runtime_error("rsync failed with " + std::to_string(exit.code));
    if (entries != expectedEntries)
        throw std::runtime_error("listed " + std::to_string(entries) + " entries, expected " +
                                 std::to_string(expectedEntries) + " (" + std::to_string(diagnostics) +
                                 " diagnostics)");
    return seconds;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const fs::path tree = argc > 1 ? argv[1] : "/tmp/kelto-bench-tree";
        const int files = argc > 2 ? std::stoi(argv[2]) : 100000;
        const int rounds = argc > 3 ? std::stoi(argv[3]) : 7;
        generateTree(tree, files);
        const long folders = (files + 199) / 200;

        RsyncInvocation invocation;
        invocation.operation = RsyncOperation::listOnly();
        invocation.source = tree / "";
        auto args = RsyncArguments::build(invocation);
        const RsyncProcess process{RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR)};

        // Warm the inode cache, and check that every file comes through.
        runToDevNull(process.executable, args);
        runThroughProcess(process, args, files + folders + 1);  // + the marker

        std::vector<double> plain, ours;
        double rsyncCpuPlain = 0, rsyncCpuOurs = 0;
        ownCpu = 0;
        for (int i = 0; i < rounds; ++i) {
            double c = cpuSeconds(RUSAGE_CHILDREN);
            plain.push_back(runToDevNull(process.executable, args));
            rsyncCpuPlain += cpuSeconds(RUSAGE_CHILDREN) - c;
            c = cpuSeconds(RUSAGE_CHILDREN);
            ours.push_back(runThroughProcess(process, args, files + folders + 1));
            rsyncCpuOurs += cpuSeconds(RUSAGE_CHILDREN) - c;
        }
        const double p = median(plain), o = median(ours);
        std::printf("listing %d files, median of %d rounds\n", files, rounds);
        std::printf("  rsync > /dev/null         %8.3f s (best %.3f s)\n", p, *std::min_element(plain.begin(), plain.end()));
        std::printf("  RsyncProcess, parsed      %8.3f s (best %.3f s)\n", o, *std::min_element(ours.begin(), ours.end()));
        std::printf("  ratio                     %8.3f (of the best times %.3f)\n", o / p,
                    *std::min_element(ours.begin(), ours.end()) / *std::min_element(plain.begin(), plain.end()));
        std::printf("  processor time per run: rsync %.3f s to /dev/null, %.3f s into the pipe; ours %.3f s\n",
                    rsyncCpuPlain / rounds, rsyncCpuOurs / rounds, ownCpu / rounds);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
