// The one-way engine against plain rsync on a generated tree of small files
// in nested folders (100,000 files, or 10,000 with --quick): an initial
// mirror, a re-run without changes, and a re-run after 1 % of the files
// changed, 0.5 % were deleted and 0.5 % added. Plain rsync gets the engine's
// own transfer arguments (kelto-run-job --print-rsync-args) with its output
// thrown away (after one throwaway copy that warms the file system); the
// engine runs through kelto-run-job, plan and run, with the
// archive off. Prints wall times, peak memory, and the ratio of the engine's
// whole time to the time its rsync children took.
//
//   OneWayRunsBench [--quick] [--root DIR] [--runner PATH]

#include "SyncModel/Support/Json.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

using namespace kelto;
namespace fs = std::filesystem;

namespace {

struct ChildResult {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
    std::string out;
};

// Runs a program; its standard output is kept when asked, else discarded.
ChildResult runChild(const std::vector<std::string>& argv, bool keepOutput) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int pipeFds[2] = {-1, -1};
    if (keepOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (keepOutput) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    else posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    ChildResult result;
    if (keepOutput) {
        ::close(pipeFds[1]);
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) result.out.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.peakKiB = usage.ru_maxrss;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

fs::path fileFor(const fs::path& root, int i) {
    char name[64];
    std::snprintf(name, sizeof name, "d%03d/e%02d/file %06d.txt", i / 1000, (i / 100) % 10, i);
    return root / name;
}

void writeFile(const fs::path& file, int i, int generation) {
    std::ofstream out(file, std::ios::binary);
    const int length = 100 + (i * 37 + generation * 11) % 400;
    std::string text;
    while (static_cast<int>(text.size()) < length) text += "line " + std::to_string(i) + " of generation " +
                                                           std::to_string(generation) + "\n";
    text.resize(static_cast<std::size_t>(length));
    out << text;
}

void generate(const fs::path& src, int files) {
    for (int i = 0; i < files; ++i) {
        if (i % 100 == 0) fs::create_directories(fileFor(src, i).parent_path());
        writeFile(fileFor(src, i), i, 0);
    }
}

// 1 % changed (a different size, so rsync sees it), 0.5 % deleted, 0.5 % added.
void mutate(const fs::path& src, int files) {
    for (int i = 0; i < files; i += 100) writeFile(fileFor(src, i + 1), i + 1, 1);
    for (int i = 0; i < files; i += 200) fs::remove(fileFor(src, i + 2));
    for (int i = 0; i < files; i += 200) {
        fs::path added = fileFor(src, i + 3);
        added.replace_filename("added " + added.filename().native());
        writeFile(added, i + 3, 2);
    }
}

// Plain rsync's peak through /usr/bin/time when it is there: a child spawned
// from a large process starts with that process's peak (Linux carries it
// across exec), /usr/bin/time is small.
std::vector<std::string> measured(const std::vector<std::string>& argv, const fs::path& peakFile) {
    if (!fs::exists("/usr/bin/time")) return argv;
    std::vector<std::string> out{"/usr/bin/time", "-f", "%M", "-o", peakFile.string()};
    out.insert(out.end(), argv.begin(), argv.end());
    return out;
}

struct Row {
    std::string scenario;
    ChildResult plain;
    ChildResult engine;
    long engineRsyncPeakKiB = 0;
    Json report;
};

}  // namespace

int main(int argc, char** argv) {
    try {
        bool quick = false;
        fs::path root = "/tmp/kelto-oneway-bench";
        fs::path runner = KELTO_RUN_JOB;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--quick") quick = true;
            else if (a == "--root" && i + 1 < argc) root = argv[++i];
            else if (a == "--runner" && i + 1 < argc) runner = argv[++i];
            else throw std::runtime_error("usage: OneWayRunsBench [--quick] [--root DIR] [--runner PATH]");
        }
        const int files = quick ? 10'000 : 100'000;
        fs::remove_all(root);
        const fs::path src = root / "src", plainDst = root / "plain-dst", engineDst = root / "engine-dst";
        const fs::path support = root / "support", logs = root / "logs";
        for (const auto& f : {src, plainDst, engineDst}) fs::create_directories(f);

        auto started = std::chrono::steady_clock::now();
        generate(src, files);
        std::printf("generated %d files under %s in %.1f s\n", files, src.c_str(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

        const ChildResult printed = runChild({runner.string(), "--print-rsync-args", "--archive", "off", src.string(),
                                              plainDst.string(), support.string(), logs.string()},
                                             true);
        if (printed.status != 0) throw std::runtime_error("kelto-run-job --print-rsync-args failed");
        std::vector<std::string> plainArgs{std::string(KELTO_BUNDLE_DIR) + "/Contents/Helpers/rsync"};
        std::istringstream lines(printed.out);
        for (std::string line; std::getline(lines, line);) plainArgs.push_back(line);

        std::vector<std::string> engineArgs{runner.string(), "--archive", "off"};
        // The engine's rsync runs, each through /usr/bin/time, append their peaks here.
        const fs::path enginePeaks = root / "engine-rsync-peaks";
        if (fs::exists("/usr/bin/time")) {
            const fs::path wrapper = root / "rsync-measured";
            std::ofstream(wrapper) << "#!/bin/sh\nexec /usr/bin/time -a -o '" << enginePeaks.string() << "' -f %M '"
                                   << plainArgs.front() << "' \"$@\"\n";
            fs::permissions(wrapper, fs::perms::owner_all);
            engineArgs.insert(engineArgs.end(), {"--rsync", wrapper.string()});
        }
        engineArgs.insert(engineArgs.end(), {src.string(), engineDst.string(), support.string(), logs.string()});
        // A first copy on a fresh file system pays for setting up its inode
        // tables; a throwaway copy takes that cost off the measured ones.
        {
            const fs::path warmUp = root / "warm-up";
            std::vector<std::string> warmArgs(plainArgs.begin(), plainArgs.end() - 1);
            warmArgs.push_back(warmUp.string() + "/");
            runChild(warmArgs, false);
            fs::remove_all(warmUp);
        }

        std::vector<Row> rows;
        auto measure = [&](const std::string& scenario) {
            ::sync();  // what earlier steps wrote is not flushed on the next one's time
            const fs::path peakFile = root / "plain-peak";
            Row row{scenario, runChild(measured(plainArgs, peakFile), false), {}, 0, {}};
            if (row.plain.status != 0) throw std::runtime_error("plain rsync failed in " + scenario);
            if (std::ifstream peak(peakFile); peak) peak >> row.plain.peakKiB;
            ::sync();
            fs::remove(enginePeaks);
            row.engine = runChild(engineArgs, true);
            std::ifstream peaks(enginePeaks);
            for (long kib = 0; peaks >> kib;) row.engineRsyncPeakKiB = std::max(row.engineRsyncPeakKiB, kib);
            row.report = JsonText::parse(row.engine.out);
            if (row.engine.status != 0 || row.report.value("outcome", "") != "success")
                throw std::runtime_error("the engine failed in " + scenario + ": " + row.engine.out);
            rows.push_back(std::move(row));
        };
        measure("initial mirror");
        measure("no change");
        mutate(src, files);
        measure("1% changed, 0.5% deleted, 0.5% added");

        std::printf("\n%-38s %9s %9s | %9s %8s %8s %6s %9s %7s %9s %9s\n", "", "rsync s", "peak MiB", "engine s",
                    "plan s", "run s", "passes", "passes s", "ratio", "eng MiB", "rsync MiB");
        for (const Row& r : rows) {
            const Json& t = r.report["timing"];
            const Json& m = r.report["memory"];
            std::printf("%-38s %9.3f %9.1f | %9.3f %8.3f %8.3f %6d %9.3f %7.3f %9.1f %9.1f\n", r.scenario.c_str(),
                        r.plain.seconds, r.plain.peakKiB / 1024.0, r.engine.seconds, t["planSeconds"].get<double>(),
                        t["runSeconds"].get<double>(), t["rsyncRuns"].get<int>(), t["rsyncSeconds"].get<double>(),
                        t["engineToRsync"].get<double>(), m["peakKiB"].get<double>() / 1024.0,
                        static_cast<double>(r.engineRsyncPeakKiB) / 1024.0);
        }
        std::printf("\nrsync s: plain rsync, same transfer arguments, output to /dev/null. engine s: kelto-run-job "
                    "start to end.\nratio: (plan s + run s) / passes s, the engine's time over the time of its rsync "
                    "children (goal <= 1.10).\neng MiB: the engine's own peak. rsync MiB: the largest peak among its rsync runs (0: "
                    "not measured).\nPeaks come from /usr/bin/time: a child spawned straight from a large process "
                    "starts with that process's peak.\n");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
