// The one-way engine against plain rsync on a generated tree of small files
// in nested folders (100,000 files, or 10,000 with --quick): an initial
// mirror, a re-run without changes, and a re-run after 1 % of the files
// changed, 0.5 % were deleted and 0.5 % added.
//
// Whole runs: the reference is plain `rsync -a --delete SRC/ DST/` (the
// bundled rsync, output to /dev/null) into a folder of its own, measured in
// the same run for each step; the engine runs through kelto-run-job, plan and
// run, with the archive off. A third folder follows the same steps through a
// wrapper that takes the peak memory of each of the engine's rsync runs, so
// that the timed runs start rsync directly.
//
// Per pass: in the no-change state, where running a pass again does the same
// work, one engine run through a wrapper records each rsync run's arguments;
// then each round runs the engine directly (its report gives each pass's
// wall time) and every recorded pass as plain rsync with the same arguments,
// output to /dev/null. Medians over the rounds.
//
// Goals are printed with PASS or MISS; a miss does not fail the program.
//
//   OneWayRunsBench [--quick] [--rounds N] [--root DIR] [--runner PATH]

#include "SyncModel/Support/Json.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

using namespace kelto;
namespace fs = std::filesystem;

namespace {

constexpr double initialMirrorGoal = 1.35;
constexpr double noChangeGoal = 3.0;
constexpr double passGoal = 1.05;

struct ChildResult {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
    std::string out;
};

// Runs a program; its standard output is kept when asked, else discarded.
// The peak is wait4's: a child spawned from this small program starts at
// this program's peak at most.
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

std::string quoted(const std::string& text) { return "'" + text + "'"; }

fs::path writeScript(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

// The argument lists the recording wrapper appended: per run, the count and
// then each argument, every one ended by a NUL.
std::vector<std::vector<std::string>> readRecordedRuns(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::vector<std::string>> runs;
    for (std::string count; std::getline(in, count, '\0');) {
        std::vector<std::string> args(static_cast<std::size_t>(std::stoul(count)));
        for (std::string& arg : args)
            if (!std::getline(in, arg, '\0')) throw std::runtime_error("truncated record in " + file.string());
        runs.push_back(std::move(args));
    }
    return runs;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

const char* verdict(double ratio, double goal) { return ratio <= goal ? "PASS" : "MISS"; }

struct Row {
    std::string scenario;
    std::optional<double> goal;
    ChildResult plain;
    ChildResult engine;
    Json report;
    long engineRsyncPeakKiB = 0;
};

struct PassTimes {
    std::vector<std::string> arguments;
    std::vector<double> engine;
    std::vector<double> plain;
};

}  // namespace

int main(int argc, char** argv) {
    try {
        bool quick = false;
        int rounds = 5;
        fs::path root = "/tmp/kelto-oneway-bench";
        fs::path runner = KELTO_RUN_JOB;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--quick") quick = true;
            else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::stoi(argv[++i]));
            else if (a == "--root" && i + 1 < argc) root = argv[++i];
            else if (a == "--runner" && i + 1 < argc) runner = argv[++i];
            else throw std::runtime_error("usage: OneWayRunsBench [--quick] [--rounds N] [--root DIR] [--runner PATH]");
        }
        const int files = quick ? 10'000 : 100'000;
        fs::remove_all(root);
        const fs::path src = root / "src", plainDst = root / "plain-dst", engineDst = root / "engine-dst";
        const fs::path peakDst = root / "peak-dst", support = root / "support", logs = root / "logs";
        for (const auto& f : {src, plainDst, engineDst, peakDst}) fs::create_directories(f);
        const std::string rsync = std::string(KELTO_BUNDLE_DIR) + "/Contents/Helpers/rsync";

        auto started = std::chrono::steady_clock::now();
        generate(src, files);
        std::printf("generated %d files under %s in %.1f s\n", files, src.c_str(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

        auto plainMirror = [&](const fs::path& dst) {
            return std::vector<std::string>{rsync, "-a", "--delete", src.string() + "/", dst.string() + "/"};
        };
        auto engineRun = [&](const fs::path& dst, const std::optional<fs::path>& wrapper) {
            std::vector<std::string> args{runner.string(), "--archive", "off"};
            if (wrapper) args.insert(args.end(), {"--rsync", wrapper->string()});
            args.insert(args.end(), {src.string(), dst.string(), support.string(), logs.string()});
            const ChildResult result = runChild(args, true);
            Json report = JsonText::parse(result.out);
            if (result.status != 0 || report.value("outcome", "") != "success")
                throw std::runtime_error("the engine failed on " + dst.string() + ": " + result.out);
            return std::pair{result, std::move(report)};
        };

        // Each rsync run of the engine through /usr/bin/time appends its peak here.
        const fs::path peaks = root / "engine-rsync-peaks";
        std::optional<fs::path> peakWrapper;
        if (fs::exists("/usr/bin/time"))
            peakWrapper = writeScript(root / "rsync-peak", "exec /usr/bin/time -a -o " + quoted(peaks.string()) +
                                                               " -f %M " + quoted(rsync) + " \"$@\"");

        // A first copy on a fresh file system pays for setting up its inode
        // tables; a throwaway copy takes that cost off the measured ones.
        {
            const fs::path warmUp = root / "warm-up";
            runChild(plainMirror(warmUp), false);
            fs::remove_all(warmUp);
        }

        std::vector<Row> rows;
        auto measure = [&](const std::string& scenario, std::optional<double> goal) {
            Row row{scenario, goal, {}, {}, {}, 0};
            ::sync();  // what earlier steps wrote is not flushed on the next one's time
            row.plain = runChild(plainMirror(plainDst), false);
            if (row.plain.status != 0) throw std::runtime_error("plain rsync failed in " + scenario);
            ::sync();
            std::tie(row.engine, row.report) = engineRun(engineDst, std::nullopt);
            if (peakWrapper) {
                ::sync();
                fs::remove(peaks);
                engineRun(peakDst, peakWrapper);
                std::ifstream in(peaks);
                for (long kib = 0; in >> kib;) row.engineRsyncPeakKiB = std::max(row.engineRsyncPeakKiB, kib);
            }
            rows.push_back(std::move(row));
        };
        measure("initial mirror", initialMirrorGoal);
        measure("no change", noChangeGoal);

        // Pass by pass, while nothing changes.
        std::vector<PassTimes> passes;
        const bool timesPasses = rows.back().report["timing"].contains("rsyncPassSeconds");
        if (timesPasses) {
            const fs::path record = root / "recorded-runs";
            const fs::path recorder =
                writeScript(root / "rsync-record", "printf '%s\\0' \"$#\" \"$@\" >> " + quoted(record.string()) +
                                                       "\nexec " + quoted(rsync) + " \"$@\"");
            engineRun(engineDst, recorder);
            for (auto& arguments : readRecordedRuns(record)) passes.push_back({std::move(arguments), {}, {}});
            for (int round = 0; round < rounds; ++round) {
                ::sync();
                const Json report = engineRun(engineDst, std::nullopt).second;
                const Json& times = report["timing"]["rsyncPassSeconds"];
                if (times.size() != passes.size())
                    throw std::runtime_error("the engine ran rsync " + std::to_string(times.size()) +
                                             " times, the recorded run " + std::to_string(passes.size()));
                for (std::size_t i = 0; i < passes.size(); ++i) {
                    passes[i].engine.push_back(times[i].get<double>());
                    std::vector<std::string> plain{rsync};
                    plain.insert(plain.end(), passes[i].arguments.begin(), passes[i].arguments.end());
                    ::sync();
                    const ChildResult result = runChild(plain, false);
                    // 24: files vanished, which cannot happen here; anything else is a broken re-run.
                    if (result.status != 0) throw std::runtime_error("plain re-run of pass " + std::to_string(i + 1) +
                                                                     " failed: " + std::to_string(result.status));
                    passes[i].plain.push_back(result.seconds);
                }
            }
        }

        mutate(src, files);
        measure("1% changed, 0.5% deleted, 0.5% added", std::nullopt);

        std::printf("\n%-38s %8s %9s | %8s %7s %7s %6s %8s %10s %8s %9s | %7s %7s\n", "whole runs", "plain s",
                    "plain MiB", "engine s", "plan s", "run s", "passes", "passes s", "eng/passes", "eng MiB",
                    "rsync MiB", "ratio", "goal");
        for (const Row& r : rows) {
            const Json& t = r.report["timing"];
            const Json& m = r.report["memory"];
            const double ratio = r.engine.seconds / r.plain.seconds;
            std::printf("%-38s %8.3f %9.1f | %8.3f %7.3f %7.3f %6d %8.3f %10.3f %8.1f %9.1f | %7.3f ",
                        r.scenario.c_str(), r.plain.seconds, r.plain.peakKiB / 1024.0, r.engine.seconds,
                        t["planSeconds"].get<double>(), t["runSeconds"].get<double>(), t["rsyncRuns"].get<int>(),
                        t["rsyncSeconds"].get<double>(), t["engineToRsync"].get<double>(),
                        m["peakKiB"].get<double>() / 1024.0, static_cast<double>(r.engineRsyncPeakKiB) / 1024.0,
                        ratio);
            if (r.goal) std::printf("<= %.2f %s\n", *r.goal, verdict(ratio, *r.goal));
            else std::printf("%7s\n", "-");
        }
        std::printf("\nplain s: rsync -a --delete SRC/ DST/, output to /dev/null. engine s: kelto-run-job start to "
                    "end.\nratio: engine s / plain s. eng/passes: (plan s + run s) / passes s, the engine's time over "
                    "that of its rsync runs.\neng MiB: the engine's own peak. rsync MiB: the largest peak among its "
                    "rsync runs, from the same steps\nthrough /usr/bin/time on a third folder (0: not measured).\n");

        if (!timesPasses) {
            std::printf("\nper pass: not measured, the runner does not report rsyncPassSeconds\n");
            return 0;
        }
        std::printf("\nper pass, no change (median of %d rounds; plain: the same arguments, output to /dev/null)\n",
                    rounds);
        std::printf("%-5s %-9s %9s %9s %7s %7s\n", "pass", "kind", "engine s", "plain s", "ratio", "goal");
        for (std::size_t i = 0; i < passes.size(); ++i) {
            const PassTimes& p = passes[i];
            const bool dryRun = std::find(p.arguments.begin(), p.arguments.end(), "--dry-run") != p.arguments.end();
            const double engine = median(p.engine), plain = median(p.plain), ratio = engine / plain;
            std::printf("%-5zu %-9s %9.3f %9.3f %7.3f <= %.2f %s\n", i + 1, dryRun ? "dry run" : "transfer", engine,
                        plain, ratio, passGoal, verdict(ratio, passGoal));
        }
        std::printf("\narguments of each pass:\n");
        for (std::size_t i = 0; i < passes.size(); ++i) {
            std::printf("%zu:", i + 1);
            for (const std::string& a : passes[i].arguments)
                std::printf(" %s", a.find(' ') == std::string::npos ? a.c_str() : quoted(a).c_str());
            std::printf("\n");
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
