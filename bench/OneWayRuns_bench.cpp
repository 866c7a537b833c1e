// The one-way engine against plain rsync on a generated tree of small files
// in nested folders (100,000 files; 10,000 with --quick; any count with
// --files) plus three large files: a first mirror, a re-run without changes,
// and a re-run after 1 % of the files changed, 0.5 % were deleted and 0.5 %
// added.
//
// Whole runs: the references are plain `rsync -a --delete SRC/ DST/` and
// `rsync -aX --delete SRC/ DST/` (the preservation the engine asks for; the
// bundled rsync, output to /dev/null), each into a folder of its own; the
// engine runs through kelto-run-job, plan and run, with the archive off, and
// with --before a second kelto-run-job (an older build) runs beside it on a
// folder of its own. Every round does all three steps for every tool, the
// tools taking turns within each step, on fresh destinations; the changed
// step reads a second source tree (the first with the changes made). Medians
// over the rounds. Each step prints the engine's phases (plan, the look
// before the transfer, transfer, archive, baseline and pruning, record), its
// rsync children and its own time beside plain rsync's.
//
// Per pass: in the no-change state, where running a pass again does the same
// work, one engine run through a wrapper records each rsync run's arguments;
// then each round runs the engine directly (its report gives each pass's
// wall time) and every recorded pass as plain rsync with the same arguments,
// output to /dev/null.
//
// With --rsync-peaks a further folder follows the steps through a wrapper
// that takes the peak memory of each of the engine's rsync runs.
//
// Goals are printed with PASS or MISS; a miss does not fail the program.
//
//   OneWayRunsBench [--quick | --files N] [--rounds N] [--root DIR] [--runner PATH] [--before PATH] [--rsync-peaks]

#include "SyncModel/Support/Json.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

using namespace kelto;
namespace fs = std::filesystem;

namespace {

// Against plain rsync -aX --delete, the same preservation.
constexpr double initialMirrorGoal = 1.4;
constexpr double noChangeGoal = 2.0;
constexpr double changedGoal = 3.0;
constexpr double passGoal = 1.1;
constexpr double engineShareGoal = 0.10;  // the engine's own time, of the whole run

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

// A new file in place of any old one: the changed tree shares the others
// with the first one through hard links.
void writeFile(const fs::path& file, int i, int generation) {
    fs::remove(file);
    std::ofstream out(file, std::ios::binary);
    const int length = 100 + (i * 37 + generation * 11) % 400;
    std::string text;
    while (static_cast<int>(text.size()) < length) text += "line " + std::to_string(i) + " of generation " +
                                                           std::to_string(generation) + "\n";
    text.resize(static_cast<std::size_t>(length));
    out << text;
}

void generate(const fs::path& src, int files, int largeMiB) {
    for (int i = 0; i < files; ++i) {
        if (i % 100 == 0) fs::create_directories(fileFor(src, i).parent_path());
        writeFile(fileFor(src, i), i, 0);
    }
    std::string block(1 << 20, '\0');
    for (int large = 0; large < 3; ++large) {
        std::ofstream out(src / ("large " + std::to_string(large) + ".bin"), std::ios::binary);
        std::uint64_t x = 0x9E3779B97F4A7C15ull * static_cast<std::uint64_t>(large + 1);
        for (int mib = 0; mib < largeMiB; ++mib) {
            for (char& c : block) {
                x ^= x << 13, x ^= x >> 7, x ^= x << 17;
                c = static_cast<char>(x);
            }
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
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

struct Samples {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double median() const { return values.empty() ? 0 : ::median(values); }
};

// One tool's runs of one step over the rounds.
struct ToolRuns {
    Samples seconds;
    long peakKiB = 0;
    std::map<std::string, Samples> phases;  // the engine's, from its report
    Samples own;                            // the engine's own time
    std::vector<Samples> passes;            // each rsync child's time, by order
    std::vector<std::string> passKinds;
};

struct Step {
    std::string name;
    double goal;
    ToolRuns plainA, plainAX, engine, before;
    Samples ratio, beforeRatio;  // each round's engine / plain -aX
};

const char* const phaseNames[] = {"plan", "freshLook", "transfer", "archive", "baseline", "record"};

void noteReport(ToolRuns& runs, const ChildResult& child, const Json& report) {
    runs.seconds.add(child.seconds);
    runs.peakKiB = std::max(runs.peakKiB, child.peakKiB);
    const Json& t = report["timing"];
    if (t.contains("phaseSeconds"))
        for (const char* name : phaseNames) runs.phases[name].add(t["phaseSeconds"][name].get<double>());
    if (t.contains("engineOwnSeconds")) runs.own.add(t["engineOwnSeconds"].get<double>());
    if (t.contains("rsyncPasses")) {
        const Json& passes = t["rsyncPasses"];
        if (runs.passes.size() < passes.size()) runs.passes.resize(passes.size());
        runs.passKinds.resize(runs.passes.size());
        for (std::size_t i = 0; i < passes.size(); ++i) {
            runs.passes[i].add(passes[i]["seconds"].get<double>());
            runs.passKinds[i] = passes[i]["kind"].get<std::string>();
        }
    }
}

void printEngineRow(const char* label, const ToolRuns& runs, double plainAX) {
    std::printf("  %-8s %7.3f s  %6.2f x  peak %6.1f MiB |", label, runs.seconds.median(),
                runs.seconds.median() / plainAX, static_cast<double>(runs.peakKiB) / 1024.0);
    if (runs.phases.empty()) {
        std::printf(" (no phase times)\n");
        return;
    }
    for (const char* name : phaseNames) std::printf(" %s %.3f", name, runs.phases.at(name).median());
    std::printf(" | own %.3f (%.0f %%) | rsync", runs.own.median(), 100 * runs.own.median() / runs.seconds.median());
    for (std::size_t i = 0; i < runs.passes.size(); ++i)
        std::printf(" %s %.3f", runs.passKinds[i].c_str(), runs.passes[i].median());
    std::printf("\n");
}

struct PassTimes {
    std::vector<std::string> arguments;
    std::vector<double> engine;
    std::vector<double> plain;
};

}  // namespace

int main(int argc, char** argv) {
    try {
        int files = 100'000, rounds = 3, largeMiB = 100;
        bool rsyncPeaks = false;
        fs::path root = "/tmp/kelto-oneway-bench";
        fs::path runner = KELTO_RUN_JOB;
        std::optional<fs::path> before;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--quick") files = 10'000;
            else if (a == "--files" && i + 1 < argc) files = std::max(100, std::stoi(argv[++i]));
            else if (a == "--large-mib" && i + 1 < argc) largeMiB = std::max(0, std::stoi(argv[++i]));
            else if (a == "--rounds" && i + 1 < argc) rounds = std::max(1, std::stoi(argv[++i]));
            else if (a == "--root" && i + 1 < argc) root = argv[++i];
            else if (a == "--runner" && i + 1 < argc) runner = argv[++i];
            else if (a == "--before" && i + 1 < argc) before = fs::path(argv[++i]);
            else if (a == "--rsync-peaks") rsyncPeaks = true;
            else throw std::runtime_error("usage: OneWayRunsBench [--quick | --files N] [--large-mib N] [--rounds N] "
                                          "[--root DIR] [--runner PATH] [--before PATH] [--rsync-peaks]");
        }
        fs::remove_all(root);
        const fs::path src = root / "src", changedSrc = root / "src-changed";
        const fs::path logs = root / "logs";
        fs::path support;  // a round's own: its destinations are new folders, not its jobs' sides
        const std::string rsync = std::string(KELTO_BUNDLE_DIR) + "/Contents/Helpers/rsync";
        fs::create_directories(src);

        auto started = std::chrono::steady_clock::now();
        generate(src, files, largeMiB);
        if (runChild({"/bin/cp", "-al", src.string(), changedSrc.string()}, false).status != 0)
            throw std::runtime_error("cannot link " + changedSrc.string());
        mutate(changedSrc, files);
        std::printf("generated %d files and 3 of %d MiB under %s in %.1f s\n", files, largeMiB, src.c_str(),
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());

        auto plainMirror = [&](const fs::path& from, const fs::path& dst, bool xattrs) {
            return std::vector<std::string>{rsync, xattrs ? "-aX" : "-a", "--delete", from.string() + "/",
                                            dst.string() + "/"};
        };
        auto engineRun = [&](const fs::path& tool, const fs::path& from, const fs::path& dst,
                             const std::optional<fs::path>& wrapper) {
            std::vector<std::string> args{tool.string(), "--archive", "off"};
            if (wrapper) args.insert(args.end(), {"--rsync", wrapper->string()});
            args.insert(args.end(), {from.string(), dst.string(), support.string(), logs.string()});
            const ChildResult result = runChild(args, true);
            Json report = JsonText::parse(result.out);
            if (result.status != 0 || report.value("outcome", "") != "success")
                throw std::runtime_error("the engine failed on " + dst.string() + ": " + result.out);
            return std::pair{result, std::move(report)};
        };

        // Each rsync run of the engine through /usr/bin/time appends its peak here.
        const fs::path peaks = root / "engine-rsync-peaks";
        std::optional<fs::path> peakWrapper;
        if (rsyncPeaks && fs::exists("/usr/bin/time"))
            peakWrapper = writeScript(root / "rsync-peak", "exec /usr/bin/time -a -o " + quoted(peaks.string()) +
                                                               " -f %M " + quoted(rsync) + " \"$@\"");
        long engineRsyncPeakKiB = 0;

        // A first copy on a fresh file system pays for setting up its inode
        // tables; a throwaway copy takes that cost off the measured ones.
        {
            const fs::path warmUp = root / "warm-up";
            runChild(plainMirror(src, warmUp, true), false);
            fs::remove_all(warmUp);
        }

        std::vector<Step> steps{{"first mirror", initialMirrorGoal, {}, {}, {}, {}, {}, {}},
                                {"no change", noChangeGoal, {}, {}, {}, {}, {}, {}},
                                {"1% changed, 0.5% deleted, 0.5% added", changedGoal, {}, {}, {}, {}, {}, {}}};
        const fs::path plainADst = root / "plain-a", plainAXDst = root / "plain-aX", engineDst = root / "engine",
                       beforeDst = root / "before", peakDst = root / "peak";
        std::vector<PassTimes> passes;
        for (int round = 0; round < rounds; ++round) {
            support = root / ("support-" + std::to_string(round));
            for (const fs::path& dst : {plainADst, plainAXDst, engineDst, beforeDst, peakDst}) fs::remove_all(dst);
            for (const fs::path& dst : {plainADst, plainAXDst, engineDst, beforeDst}) fs::create_directories(dst);
            if (peakWrapper) fs::create_directories(peakDst);
            for (std::size_t s = 0; s < steps.size(); ++s) {
                Step& step = steps[s];
                const fs::path& from = s == 2 ? changedSrc : src;
                // The tools take turns, each round in another order.
                const int tools = before ? 4 : 3;
                double plainAX = 0, engineSeconds = 0, beforeSeconds = 0;
                for (int k = 0; k < tools; ++k) {
                    ::sync();  // what earlier steps wrote is not flushed on the next one's time
                    switch ((k + round) % tools) {
                        case 0: {
                            const ChildResult r = runChild(plainMirror(from, plainADst, false), false);
                            if (r.status != 0) throw std::runtime_error("plain rsync -a failed in " + step.name);
                            step.plainA.seconds.add(r.seconds);
                            step.plainA.peakKiB = std::max(step.plainA.peakKiB, r.peakKiB);
                            break;
                        }
                        case 1: {
                            const ChildResult r = runChild(plainMirror(from, plainAXDst, true), false);
                            if (r.status != 0) throw std::runtime_error("plain rsync -aX failed in " + step.name);
                            step.plainAX.seconds.add(r.seconds);
                            step.plainAX.peakKiB = std::max(step.plainAX.peakKiB, r.peakKiB);
                            plainAX = r.seconds;
                            break;
                        }
                        case 2: {
                            const auto [r, report] = engineRun(runner, from, engineDst, std::nullopt);
                            noteReport(step.engine, r, report);
                            engineSeconds = r.seconds;
                            break;
                        }
                        case 3: {
                            const auto [r, report] = engineRun(*before, from, beforeDst, std::nullopt);
                            noteReport(step.before, r, report);
                            beforeSeconds = r.seconds;
                            break;
                        }
                    }
                }
                step.ratio.add(engineSeconds / plainAX);
                if (before) step.beforeRatio.add(beforeSeconds / plainAX);
                if (peakWrapper) {
                    ::sync();
                    fs::remove(peaks);
                    engineRun(runner, from, peakDst, peakWrapper);
                    std::ifstream in(peaks);
                    for (long kib = 0; in >> kib;) engineRsyncPeakKiB = std::max(engineRsyncPeakKiB, kib);
                }

                // Pass by pass, while nothing changes.
                if (s != 1) continue;
                if (passes.empty()) {
                    const fs::path record = root / "recorded-runs";
                    const fs::path recorder = writeScript(
                        root / "rsync-record",
                        "printf '%s\\0' \"$#\" \"$@\" >> " + quoted(record.string()) + "\nexec " + quoted(rsync) +
                            " \"$@\"");
                    engineRun(runner, src, engineDst, recorder);
                    for (auto& arguments : readRecordedRuns(record)) passes.push_back({std::move(arguments), {}, {}});
                }
                ::sync();
                const Json report = engineRun(runner, src, engineDst, std::nullopt).second;
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
            std::printf("round %d of %d done\n", round + 1, rounds);
            std::fflush(stdout);
        }

        std::printf("\n%d files and 3 of %d MiB, medians of %d rounds; ratio: engine s / plain rsync -aX s of the "
                    "same round\n",
                    files, largeMiB, rounds);
        for (const Step& step : steps) {
            const double plainAX = step.plainAX.seconds.median();
            std::printf("\n%s\n", step.name.c_str());
            std::printf("  %-8s %7.3f s  %6.2f x  peak %6.1f MiB\n", "rsync -a", step.plainA.seconds.median(),
                        step.plainA.seconds.median() / plainAX, static_cast<double>(step.plainA.peakKiB) / 1024.0);
            std::printf("  %-8s %7.3f s  %6.2f x  peak %6.1f MiB\n", "-aX", plainAX, 1.0,
                        static_cast<double>(step.plainAX.peakKiB) / 1024.0);
            printEngineRow("engine", step.engine, plainAX);
            if (before) printEngineRow("before", step.before, plainAX);
            const double ratio = step.ratio.median();
            std::printf("  ratio engine / -aX %.3f (goal <= %.2f %s)", ratio, step.goal, verdict(ratio, step.goal));
            std::printf(", engine / -a %.3f", step.engine.seconds.median() / step.plainA.seconds.median());
            if (before) {
                const double old = step.beforeRatio.median();
                std::printf("; before / -aX %.3f, before / -a %.3f, after / before %.3f", old,
                            step.before.seconds.median() / step.plainA.seconds.median(),
                            step.engine.seconds.median() / step.before.seconds.median());
            }
            const double share = step.engine.own.median() / step.engine.seconds.median();
            std::printf("\n  engine's own time %.1f %% of the run (goal <= %.0f %% %s)\n", 100 * share,
                        100 * engineShareGoal, verdict(share, engineShareGoal));
        }
        std::printf("\nphases: plan; freshLook: from the plan to the transfer (guard, reserved folders, the fresh "
                    "dry run);\ntransfer; archive; baseline: counting the archive and pruning; record: log and "
                    "history. own: the run's\ntime outside every rsync child. peak: the process's own (rsync's "
                    "children are not in the engine's).\n");
        if (peakWrapper)
            std::printf("largest peak among the engine's rsync runs: %.1f MiB\n",
                        static_cast<double>(engineRsyncPeakKiB) / 1024.0);

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
        fs::remove_all(root);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
