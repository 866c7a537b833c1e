// The one-way engine against plain rsync on generated trees of small files
// in nested folders plus three large files: a first mirror, a re-run without
// changes, and a re-run after 1 % of the files changed, 0.5 % were deleted
// and 0.5 % added.
//
// Each tree lives on a file system of its own, mounted for the run under
// --root (which should itself be in memory, such as /dev/shm): "ext4", an
// ext4 image on a loop device, whose file is in --root; "tmpfs"; or "dir",
// plain folders under --root with nothing mounted. The reference is plain
// rsync as a user would run it there, output to /dev/null: `rsync -aX
// --delete SRC/ DST/` where the engine keeps extended attributes (ext4,
// dir), `rsync -a --delete SRC/ DST/` where it does not (tmpfs). The engine
// runs through kelto-run-job, plan and run, with the archive off (--archive
// on: what a run replaces or deletes goes to the archive); with
// --before a second kelto-run-job (an older build) runs beside it on a
// folder of its own. The file systems come one after the other, so that
// only one holds trees at a time; on each, every round goes through the tree
// sizes, in an order that turns with the round, and does all three steps
// for every tool, the tools taking turns within each step, on fresh
// destinations; the changed step reads a second source tree (the first with
// the changes made). Medians over the rounds. Each step prints the engine's
// phases (plan, the look before the transfer, transfer, archive, baseline
// and pruning, record), its rsync children and its own time beside plain
// rsync's; a last table gives every ratio with its goal, before and after.
//
// Per pass: in the no-change state, where running a pass again does the same
// work, one engine run through a wrapper records each rsync run's arguments;
// then each round runs the engine directly (its report gives each pass's
// wall time) and every recorded pass as plain rsync with the same arguments,
// output to /dev/null.
//
// The first run's transfer pass is also run bare, recorded as above, with
// and without its temporary folder, to tell what that folder costs beside
// the plan and the engine's own time.
//
// With --rsync-peaks a further folder follows the steps through a wrapper
// that takes the peak memory of each of the engine's rsync runs. With
// --mode copy the engine runs copy jobs and plain rsync leaves --delete out.
//
// Goals are printed with PASS or MISS; a miss does not fail the program.
//
//   OneWayRunsBench [--quick | --files N[,N...]] [--fs ext4,tmpfs,dir] [--rounds N] [--large-mib N]
//                   [--mode mirror|copy] [--archive off|on] [--root DIR] [--runner PATH] [--before PATH]
//                   [--rsync-peaks]

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
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

using namespace kelto;
namespace fs = std::filesystem;

namespace {

// Against the plain rsync of each file system: the first mirror on ext4 (on
// tmpfs nothing is written to a device, and the engine's dry runs weigh
// more than the copying), and the re-runs everywhere.
constexpr double initialMirrorGoal = 1.1;
constexpr double noChangeGoal = 1.2;
constexpr double changedGoal = 3.0;
constexpr double passGoal = 1.1;
constexpr double engineShareGoal = 0.10;  // the engine's own time, of the whole run

struct ChildResult {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system, its own and its waited-for children's
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
    auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    result.cpuSeconds = toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
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
    Samples seconds, cpuSeconds;
    long peakKiB = 0;
    std::map<std::string, Samples> phases;  // the engine's, from its report
    Samples own;                            // the engine's own time
    Samples run;                            // the run as the driver timed it, from plan to record
    std::vector<Samples> passes;            // each rsync child's time, by order
    std::vector<std::string> passKinds;
};

struct Step {
    std::string name;
    std::optional<double> goal;  // none: no goal on this file system
    ToolRuns plain, engine, before;
    Samples ratio, beforeRatio;  // each round's engine / plain
};

const char* const phaseNames[] = {"plan", "freshLook", "transfer", "archive", "baseline", "record"};

void noteReport(ToolRuns& runs, const ChildResult& child, const Json& report) {
    runs.seconds.add(child.seconds);
    runs.cpuSeconds.add(child.cpuSeconds);
    runs.peakKiB = std::max(runs.peakKiB, child.peakKiB);
    const Json& t = report["timing"];
    if (t.contains("phaseSeconds"))
        for (const char* name : phaseNames) runs.phases[name].add(t["phaseSeconds"][name].get<double>());
    if (t.contains("engineOwnSeconds")) runs.own.add(t["engineOwnSeconds"].get<double>());
    if (t.contains("totalSeconds")) runs.run.add(t["totalSeconds"].get<double>());
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

void printEngineRow(const char* label, const ToolRuns& runs, double plain) {
    std::printf("  %-8s %7.3f s  %6.2f x  peak %6.1f MiB |", label, runs.seconds.median(),
                runs.seconds.median() / plain, static_cast<double>(runs.peakKiB) / 1024.0);
    if (runs.phases.empty()) {
        std::printf(" (no phase times)\n");
        return;
    }
    for (const char* name : phaseNames) std::printf(" %s %.3f", name, runs.phases.at(name).median());
    std::printf(" | run %.3f own %.3f (%.0f %%) | rsync x%zu", runs.run.median(), runs.own.median(),
                100 * runs.own.median() / runs.seconds.median(), runs.passes.size());
    for (std::size_t i = 0; i < runs.passes.size(); ++i)
        std::printf(" %s %.3f", runs.passKinds[i].c_str(), runs.passes[i].median());
    std::printf("\n");
}

struct PassTimes {
    std::vector<std::string> arguments;
    std::vector<double> engine;
    std::vector<double> plain;
};


// A file system of its own for one kind of tree, unmounted (and its image
// removed) at the end. "dir" mounts nothing.
class ScratchFileSystem {
public:
    ScratchFileSystem(std::string kind, const fs::path& root, std::uint64_t bytes, std::uint64_t inodes)
        : kind_(std::move(kind)), mountPoint_(root / kind_) {
        fs::create_directories(mountPoint_);
        if (kind_ == "dir") return;
        if (::geteuid() != 0) throw std::runtime_error("mounting " + kind_ + " needs root; use --fs dir");
        const std::string mib = std::to_string(bytes / (1 << 20) + 1);
        if (kind_ == "tmpfs") {
            run({"/usr/bin/mount", "-t", "tmpfs", "-o", "size=" + mib + "m", "kelto-bench", mountPoint_.string()});
        } else if (kind_ == "ext4") {
            image_ = root / "ext4.img";
            fs::remove(image_);
            run({"/usr/bin/truncate", "-s", mib + "M", image_.string()});
            // Inode tables written now, not by the kernel while the tools run.
            run({"/usr/sbin/mkfs.ext4", "-q", "-F", "-N", std::to_string(inodes), "-E",
                 "lazy_itable_init=0,lazy_journal_init=0", image_.string()});
            run({"/usr/bin/mount", "-o", "loop", image_.string(), mountPoint_.string()});
        } else {
            throw std::runtime_error("unknown file system " + kind_ + " (ext4, tmpfs or dir)");
        }
        mounted_ = true;
    }
    ~ScratchFileSystem() {
        if (mounted_) runChild({"/usr/bin/umount", mountPoint_.string()}, false);
        std::error_code ignored;
        if (!image_.empty()) fs::remove(image_, ignored);
        fs::remove_all(mountPoint_, ignored);
    }
    ScratchFileSystem(const ScratchFileSystem&) = delete;
    ScratchFileSystem& operator=(const ScratchFileSystem&) = delete;

    const std::string& kind() const { return kind_; }
    const fs::path& path() const { return mountPoint_; }
    // What a user would run there: -X only where the engine keeps extended attributes.
    bool xattrs() const { return kind_ != "tmpfs"; }

private:
    static void run(const std::vector<std::string>& argv) {
        if (runChild(argv, false).status != 0) throw std::runtime_error("failed: " + argv[0] + " " + argv.back());
    }

    std::string kind_;
    fs::path mountPoint_;
    fs::path image_;
    bool mounted_ = false;
};

// One tree size on one file system.
struct Config {
    std::string kind;  // of its file system
    bool xattrs;
    int files;
    fs::path root;  // its folders, on that file system
    std::vector<Step> steps;
    std::vector<PassTimes> passes;
    std::vector<std::string> firstTransfer;  // the first run's transfer pass, as recorded
    ToolRuns firstBare, firstWithoutTemporary;

    std::string label() const { return kind + " " + std::to_string(files); }
    const char* reference() const { return xattrs ? "-aX" : "-a"; }
};

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t from = 0;
    for (std::size_t comma; (comma = text.find(',', from)) != std::string::npos; from = comma + 1)
        items.push_back(text.substr(from, comma - from));
    items.push_back(text.substr(from));
    return items;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<int> counts{10'000, 100'000};
        std::vector<std::string> kinds;
        int rounds = 3, largeMiB = 100;
        bool rsyncPeaks = false;
        std::string mode = "mirror";
        std::string archive = "off";
        fs::path root = "/dev/shm/kelto-oneway-bench";
        fs::path runner = KELTO_RUN_JOB;
        std::optional<fs::path> before;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--quick") {
                counts = {10'000};
            } else if (a == "--files" && i + 1 < argc) {
                counts.clear();
                for (const std::string& n : splitList(argv[++i])) counts.push_back(std::max(100, std::stoi(n)));
            } else if (a == "--fs" && i + 1 < argc) {
                kinds = splitList(argv[++i]);
            } else if (a == "--large-mib" && i + 1 < argc) {
                largeMiB = std::max(0, std::stoi(argv[++i]));
            } else if (a == "--rounds" && i + 1 < argc) {
                rounds = std::max(1, std::stoi(argv[++i]));
            } else if (a == "--root" && i + 1 < argc) {
                root = argv[++i];
            } else if (a == "--runner" && i + 1 < argc) {
                runner = argv[++i];
            } else if (a == "--before" && i + 1 < argc) {
                before = fs::path(argv[++i]);
            } else if (a == "--mode" && i + 1 < argc) {
                mode = argv[++i];
                if (mode != "mirror" && mode != "copy") throw std::runtime_error("--mode is mirror or copy");
            } else if (a == "--archive" && i + 1 < argc) {
                archive = argv[++i];
                if (archive != "off" && archive != "on") throw std::runtime_error("--archive is off or on");
            } else if (a == "--rsync-peaks") {
                rsyncPeaks = true;
            } else {
                throw std::runtime_error("usage: OneWayRunsBench [--quick | --files N[,N...]] [--fs ext4,tmpfs,dir] "
                                         "[--large-mib N] [--rounds N] [--mode mirror|copy] [--archive off|on] "
                                         "[--root DIR] [--runner PATH] [--before PATH] [--rsync-peaks]");
            }
        }
        if (kinds.empty())
            kinds = ::geteuid() == 0 ? std::vector<std::string>{"ext4", "tmpfs"} : std::vector<std::string>{"dir"};
        fs::remove_all(root);
        fs::create_directories(root);
        const fs::path logs = root / "logs";
        // A round's own: its destinations are new folders, not its jobs' sides.
        fs::path support;
        const std::string rsync = std::string(KELTO_BUNDLE_DIR) + "/Contents/Helpers/rsync";

        // Each file system holds, per size, the two sources (the second
        // mostly hard links), one destination per tool, the bare replay's and
        // the peak folder.
        const int trees = 4 + (before ? 1 : 0) + (rsyncPeaks ? 1 : 0);
        std::uint64_t bytes = 256ull << 20, inodes = 10'000;
        for (int files : counts) {
            bytes += static_cast<std::uint64_t>(trees) * (static_cast<std::uint64_t>(files) * 4608 +
                                                          3ull * static_cast<std::uint64_t>(largeMiB) * (1 << 20));
            inodes += static_cast<std::uint64_t>(trees + 1) * static_cast<std::uint64_t>(files) * 11 / 10;
        }
        bytes = bytes * 13 / 10;
        inodes = inodes * 13 / 10;

        std::vector<Config> configs;
        for (const std::string& kind : kinds)
            for (int files : counts) configs.push_back({kind, kind != "tmpfs", files, {}, {}, {}, {}, {}, {}});

        auto plainMirror = [&](const Config& c, const fs::path& from, const fs::path& dst) {
            std::vector<std::string> args{rsync, c.reference(), "--delete", from.string() + "/", dst.string() + "/"};
            if (mode == "copy") args.erase(args.begin() + 2);
            return args;
        };
        auto engineRun = [&](const fs::path& tool, const fs::path& from, const fs::path& dst,
                             const std::optional<fs::path>& wrapper) {
            std::vector<std::string> args{tool.string(), "--mode", mode, "--archive", archive};
            if (wrapper) args.insert(args.end(), {"--rsync", wrapper->string()});
            args.insert(args.end(), {from.string(), dst.string(), support.string(), logs.string()});
            const ChildResult result = runChild(args, true);
            Json report = JsonText::parse(result.out);
            if (result.status != 0 || report.value("outcome", "") != "success")
                throw std::runtime_error("the engine failed on " + dst.string() + ": " + result.out);
            return std::pair{result, std::move(report)};
        };

        auto recordedRuns = [&](const Config& c, const fs::path& from, const fs::path& dst) {
            const fs::path record = c.root / "recorded-runs";
            fs::remove(record);
            // The engine starts a transfer in the destination it holds open
            // ("."), names the source through its own descriptor and the
            // partial folder through rsync's working folder: the record names
            // them by path, so the pass can be run bare.
            const fs::path recorder = writeScript(
                c.root / "rsync-record",
                "here=$(pwd -P)\nfor a in \"$@\"; do\n  case \"$a\" in\n"
                "    /proc/*/fd/*) r=$(readlink -f \"$a\"); case \"$a\" in */) r=\"$r/\";; esac; set -- \"$@\" \"$r\";;\n"
                "    . | ./) set -- \"$@\" \"$here/\";;\n"
                "    --partial-dir=/proc/self/cwd/*) set -- \"$@\" \"--partial-dir=$here/${a#--partial-dir=/proc/self/cwd/}\";;\n"
                "    *) set -- \"$@\" \"$a\";;\n  esac\n  shift\ndone\n"
                "printf '%s\\0' \"$#\" \"$@\" >> " + quoted(record.string()) + "\nexec " + quoted(rsync) + " \"$@\"");
            engineRun(runner, from, dst, recorder);
            return readRecordedRuns(record);
        };
        // A recorded pass run as plain rsync into a fresh destination that
        // holds only the reserved folders the engine makes before it.
        auto replay = [&](const std::vector<std::string>& recorded, const fs::path& dst) {
            fs::remove_all(dst);
            fs::create_directories(dst / ".KeltoSync" / "Temporary");
            fs::create_directories(dst / ".KeltoSync" / "Partial");
            std::vector<std::string> args{rsync};
            args.insert(args.end(), recorded.begin(), recorded.end());
            ::sync();
            const ChildResult result = runChild(args, false);
            if (result.status != 0) throw std::runtime_error("plain re-run of the first transfer failed");
            return result;
        };

        // Each rsync run of the engine through /usr/bin/time appends its peak here.
        const fs::path peaks = root / "engine-rsync-peaks";
        std::optional<fs::path> peakWrapper;
        if (rsyncPeaks && fs::exists("/usr/bin/time"))
            peakWrapper = writeScript(root / "rsync-peak", "exec /usr/bin/time -a -o " + quoted(peaks.string()) +
                                                               " -f %M " + quoted(rsync) + " \"$@\"");
        long engineRsyncPeakKiB = 0;

        // One file system at a time, so that only its trees take memory;
        // within it the sizes take turns.
        for (const std::string& kind : kinds) {
            ScratchFileSystem fileSystem(kind, root, bytes, inodes);
            std::vector<Config*> here;
            for (Config& c : configs)
                if (c.kind == kind) {
                    c.root = fileSystem.path() / ("t" + std::to_string(c.files));
                    here.push_back(&c);
                }
            for (Config* config : here) {
                Config& c = *config;
                const auto started = std::chrono::steady_clock::now();
                const fs::path src = c.root / "src", changedSrc = c.root / "src-changed";
                fs::create_directories(src);
                generate(src, c.files, largeMiB);
                if (runChild({"/bin/cp", "-al", src.string(), changedSrc.string()}, false).status != 0)
                    throw std::runtime_error("cannot link " + changedSrc.string());
                mutate(changedSrc, c.files);
                // A first copy on a fresh file system pays for setting up its
                // inode tables; a throwaway copy takes that cost off the measured ones.
                const fs::path warmUp = c.root / "warm-up";
                runChild({rsync, "-a", "--delete", src.string() + "/", warmUp.string() + "/"}, false);
                fs::remove_all(warmUp);
                const bool ext4 = c.kind == "ext4";
                const std::optional<double> firstGoal = ext4 ? std::optional(initialMirrorGoal) : std::nullopt;
                c.steps = {{"first " + mode, firstGoal, {}, {}, {}, {}, {}},
                           {"no change", noChangeGoal, {}, {}, {}, {}, {}},
                           {"1% changed, 0.5% deleted, 0.5% added", changedGoal, {}, {}, {}, {}, {}}};
                std::printf("%s: generated %d files and 3 of %d MiB in %.1f s\n", c.label().c_str(), c.files, largeMiB,
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
            }

            for (int round = 0; round < rounds; ++round) {
                support = root / ("support-" + std::to_string(round));
                for (std::size_t n = 0; n < here.size(); ++n) {
                    Config& c = *here[(n + static_cast<std::size_t>(round)) % here.size()];
                    const fs::path src = c.root / "src", changedSrc = c.root / "src-changed";
                    const fs::path plainDst = c.root / "plain", engineDst = c.root / "engine",
                                   beforeDst = c.root / "before", peakDst = c.root / "peak";
                    for (const fs::path& dst : {plainDst, engineDst, beforeDst, peakDst}) fs::remove_all(dst);
                    for (const fs::path& dst : {plainDst, engineDst, beforeDst}) fs::create_directories(dst);
                    if (peakWrapper) fs::create_directories(peakDst);
                    for (std::size_t s = 0; s < c.steps.size(); ++s) {
                        Step& step = c.steps[s];
                        const fs::path& from = s == 2 ? changedSrc : src;
                        // The tools take turns, each round in another order.
                        const int tools = before ? 3 : 2;
                        double plain = 0, engineSeconds = 0, beforeSeconds = 0;
                        for (int k = 0; k < tools; ++k) {
                            ::sync();  // what earlier steps wrote is not flushed on the next one's time
                            switch ((k + round) % tools) {
                                case 0: {
                                    const ChildResult r = runChild(plainMirror(c, from, plainDst), false);
                                    if (r.status != 0) throw std::runtime_error("plain rsync failed in " + step.name);
                                    step.plain.seconds.add(r.seconds);
                                    step.plain.cpuSeconds.add(r.cpuSeconds);
                                    step.plain.peakKiB = std::max(step.plain.peakKiB, r.peakKiB);
                                    plain = r.seconds;
                                    break;
                                }
                                case 1: {
                                    const auto [r, report] = engineRun(runner, from, engineDst, std::nullopt);
                                    noteReport(step.engine, r, report);
                                    engineSeconds = r.seconds;
                                    break;
                                }
                                case 2: {
                                    const auto [r, report] = engineRun(*before, from, beforeDst, std::nullopt);
                                    noteReport(step.before, r, report);
                                    beforeSeconds = r.seconds;
                                    break;
                                }
                            }
                        }
                        step.ratio.add(engineSeconds / plain);
                        if (before) step.beforeRatio.add(beforeSeconds / plain);
                        if (peakWrapper) {
                            ::sync();
                            fs::remove(peaks);
                            engineRun(runner, from, peakDst, peakWrapper);
                            std::ifstream in(peaks);
                            for (long kib = 0; in >> kib;) engineRsyncPeakKiB = std::max(engineRsyncPeakKiB, kib);
                        }

                        // The first run's transfer bare, with and without its temporary folder.
                        if (s == 0) {
                            const fs::path bare = c.root / "bare";
                            if (c.firstTransfer.empty()) {
                                fs::remove_all(bare);
                                fs::create_directories(bare);
                                for (auto& arguments : recordedRuns(c, src, bare))
                                    if (std::find(arguments.begin(), arguments.end(), "--dry-run") == arguments.end())
                                        c.firstTransfer = std::move(arguments);
                                if (c.firstTransfer.empty()) throw std::runtime_error("the first run transferred nothing");
                            }
                            std::vector<std::string> withoutTemporary;
                            for (const std::string& a : c.firstTransfer)
                                if (!a.starts_with("--temp-dir=")) withoutTemporary.push_back(a);
                            // Three of each a round: a single run of either strays far too often.
                            for (int k = 0; k < 6; ++k) {
                                const bool withTemporary = (k + round) % 2 == 0;
                                const ChildResult r = replay(withTemporary ? c.firstTransfer : withoutTemporary, bare);
                                ToolRuns& runs = withTemporary ? c.firstBare : c.firstWithoutTemporary;
                                runs.seconds.add(r.seconds);
                                runs.cpuSeconds.add(r.cpuSeconds);
                            }
                            fs::remove_all(bare);
                        }

                        // Pass by pass, while nothing changes.
                        if (s != 1) continue;
                        if (c.passes.empty())
                            for (auto& arguments : recordedRuns(c, src, engineDst))
                                c.passes.push_back({std::move(arguments), {}, {}});
                        ::sync();
                        const Json report = engineRun(runner, src, engineDst, std::nullopt).second;
                        const Json& times = report["timing"]["rsyncPassSeconds"];
                        if (times.size() != c.passes.size())
                            throw std::runtime_error("the engine ran rsync " + std::to_string(times.size()) +
                                                     " times, the recorded run " + std::to_string(c.passes.size()));
                        for (std::size_t i = 0; i < c.passes.size(); ++i) {
                            c.passes[i].engine.push_back(times[i].get<double>());
                            std::vector<std::string> plainPass{rsync};
                            const std::vector<std::string>& recorded = c.passes[i].arguments;
                            plainPass.insert(plainPass.end(), recorded.begin(), recorded.end());
                            ::sync();
                            const ChildResult result = runChild(plainPass, false);
                            // 24: files vanished, which cannot happen here; anything else is a broken re-run.
                            if (result.status != 0)
                                throw std::runtime_error("plain re-run of pass " + std::to_string(i + 1) +
                                                         " failed: " + std::to_string(result.status));
                            c.passes[i].plain.push_back(result.seconds);
                        }
                    }
                }
                std::printf("%s: round %d of %d done\n", kind.c_str(), round + 1, rounds);
                std::fflush(stdout);
            }
        }

        for (const Config& c : configs) {
            std::printf("\n== %s files and 3 of %d MiB, medians of %d rounds; ratio: engine s / plain rsync %s s of "
                        "the same round\n",
                        c.label().c_str(), largeMiB, rounds, c.reference());
            for (const Step& step : c.steps) {
                const double plain = step.plain.seconds.median();
                std::printf("\n%s\n", step.name.c_str());
                std::printf("  %-8s %7.3f s  %6.2f x  peak %6.1f MiB\n", c.reference(), plain, 1.0,
                            static_cast<double>(step.plain.peakKiB) / 1024.0);
                printEngineRow("engine", step.engine, plain);
                if (before) printEngineRow("before", step.before, plain);
                std::printf("  ratio engine / %s %.3f", c.reference(), step.ratio.median());
                if (before)
                    std::printf("; before / %s %.3f, after / before %.3f", c.reference(), step.beforeRatio.median(),
                                step.engine.seconds.median() / step.before.seconds.median());
                const double share = step.engine.own.median() / step.engine.seconds.median();
                std::printf("\n  engine's own time %.1f %% of the run (goal <= %.0f %% %s)\n", 100 * share,
                            100 * engineShareGoal, verdict(share, engineShareGoal));
            }
            if (!c.firstBare.seconds.values.empty()) {
                // What the first run pays beyond plain rsync, step by step: wall
                // time, and CPU time (its own and its rsync children's), which
                // strays less on a busy machine.
                const Step& first = c.steps[0];
                const ToolRuns &bare = c.firstBare, &without = c.firstWithoutTemporary;
                const double plain = first.plain.seconds.median(), plainCpu = first.plain.cpuSeconds.median();
                const double plan = first.engine.phases.at("plan").median(), own = first.engine.own.median();
                std::printf("\n%s beside plain rsync %s: wall s, CPU s, and each as a share of plain's\n",
                            first.name.c_str(), c.reference());
                auto row = [&](const char* label, double wall, double cpu) {
                    std::printf("  %-44s %7.3f %7.3f   %6.1f %% %6.1f %%\n", label, wall, cpu, 100 * wall / plain,
                                100 * cpu / plainCpu);
                };
                row("plain rsync", plain, plainCpu);
                row("engine", first.engine.seconds.median(), first.engine.cpuSeconds.median());
                std::printf("  %-44s %7.3f %7s   %6.1f %%\n", "  its plan (dry run and the engine's work)", plan, "",
                            100 * plan / plain);
                std::printf("  %-44s %7.3f %7s   %6.1f %%\n", "  its own time, in the plan and after it", own, "",
                            100 * own / plain);
                row("its transfer pass run bare", bare.seconds.median(), bare.cpuSeconds.median());
                row("  the same without its temporary folder", without.seconds.median(), without.cpuSeconds.median());
                row("  what the temporary folder costs", bare.seconds.median() - without.seconds.median(),
                    bare.cpuSeconds.median() - without.cpuSeconds.median());
            }
            std::printf("\nper pass, no change (plain: the same arguments, output to /dev/null)\n");
            std::printf("%-5s %-9s %9s %9s %7s %7s\n", "pass", "kind", "engine s", "plain s", "ratio", "goal");
            for (std::size_t i = 0; i < c.passes.size(); ++i) {
                const PassTimes& p = c.passes[i];
                const bool dryRun =
                    std::find(p.arguments.begin(), p.arguments.end(), "--dry-run") != p.arguments.end();
                const double engine = median(p.engine), plain = median(p.plain), ratio = engine / plain;
                std::printf("%-5zu %-9s %9.3f %9.3f %7.3f <= %.2f %s\n", i + 1, dryRun ? "dry run" : "transfer",
                            engine, plain, ratio, passGoal, verdict(ratio, passGoal));
            }
        }
        std::printf("\nphases: plan; freshLook: from the plan to the transfer (guard, reserved folders, the fresh "
                    "dry run);\ntransfer; archive; baseline: counting the archive and pruning; record: log and "
                    "history. run: the driver's own\ntiming of the run, plan to record. own: the run's time outside "
                    "every rsync child. peak: the\nprocess's own (rsync's children are not in the engine's).\n");
        if (peakWrapper)
            std::printf("largest peak among the engine's rsync runs: %.1f MiB\n",
                        static_cast<double>(engineRsyncPeakKiB) / 1024.0);
        if (!configs.empty() && !configs.front().passes.empty()) {
            std::printf("\narguments of each pass (%s):\n", configs.front().label().c_str());
            for (std::size_t i = 0; i < configs.front().passes.size(); ++i) {
                std::printf("%zu:", i + 1);
                for (const std::string& a : configs.front().passes[i].arguments)
                    std::printf(" %s", a.find(' ') == std::string::npos ? a.c_str() : quoted(a).c_str());
                std::printf("\n");
            }
        }

        // Every ratio beside its goal: engine s / plain s, medians over the rounds.
        std::printf("\nsummary: engine / plain rsync of the same round, medians of %d rounds%s\n", rounds,
                    before ? "; before and after" : "");
        std::printf("%-14s", "run");
        for (const Config& c : configs) {
            const std::string head = c.label() + " (" + c.reference() + ")";
            std::printf(" | %-*s", before ? 26 : 18, head.c_str());
        }
        std::printf("\n");
        const std::string stepLabels[] = {"first " + mode, "no change", "changed"};
        for (std::size_t s = 0; s < 3; ++s) {
            std::printf("%-14s", stepLabels[s].c_str());
            for (const Config& c : configs) {
                const Step& step = c.steps[s];
                const double ratio = step.ratio.median();
                char goal[32] = "";
                if (step.goal) std::snprintf(goal, sizeof goal, "<= %.1f %s", *step.goal, verdict(ratio, *step.goal));
                if (before)
                    std::printf(" | %5.2f -> %5.2f %-12s", step.beforeRatio.median(), ratio, goal);
                else
                    std::printf(" | %5.2f %-12s", ratio, goal);
            }
            std::printf("\n");
        }
        fs::remove_all(root);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
