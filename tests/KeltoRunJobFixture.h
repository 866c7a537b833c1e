#pragma once

// Two folders, a and b, for kelto-run-job to run a job on, its support and
// log folders beside them, and its JSON report read back.

#include "SyncAutomation/VolumeInspectorError.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"

#include <sys/mount.h>
#include <sys/wait.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kelto::test {

using Pairs = std::set<std::pair<std::string, std::string>>;
using Files = std::map<std::string, std::string>;
using Options = std::vector<std::string>;

// A run of each mode and a preview of each engine; a mirror and a two-way run.
inline const std::vector<Options> everyRun{{"--mode", "twoWay"},
                                           {"--mode", "mirror", "--archive", "off"},
                                           {"--mode", "copy", "--archive", "off"},
                                           {"--mode", "mirror", "--plan-only"},
                                           {"--mode", "twoWay", "--plan-only"}};
inline const std::vector<Options> mirrorAndTwoWay{{"--mode", "mirror", "--archive", "off"},
                                                  {"--mode", "twoWay", "--archive", "off"}};

// Entries below `root` as tree() reads them ("dir/" a folder, else a file's content), at t0.
inline void lay(const fs::path& root, const Files& entries) {
    for (const auto& [path, content] : entries)
        content == "dir/" ? (void)fs::create_directories(root / path) : putAt(root / path, content, t0);
}

// How many markers a side holds, at its top or in its reserved folder.
inline long markersIn(const fs::path& side) {
    long count = 0;
    for (const fs::path& folder : {side, side / ".KeltoSync"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error))
            count += entry.path().filename().native().starts_with(".KeltoSync-Marker-");
    }
    return count;
}

// Two sides whose trees reach each other. Where a mount's layers cannot be placed the refusal may
// name `unplaced` instead of the nesting, or must with `onlyUnplaced`. `times`: the tops' times are
// kept (through a FUSE mount's cache they may not read back as they were).
struct Refused {
    fs::path x, y;
    std::optional<fs::path> unplaced = std::nullopt;
    bool onlyUnplaced = false, times = false;
};

struct ToolResult {
    int status = -1;
    Json out;
};

class KeltoRunJobTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path a = tmp / "a", b = tmp / "b";

    void SetUp() override {
        fs::create_directories(a);
        fs::create_directories(b);
    }

    // Starts the tool on a and b with `options` before the folders, its report going to `out`.
    pid_t start(const Options& options, const fs::path& out) const {
        std::vector<std::string> args{KELTO_RUN_JOB};
        args.insert(args.end(), options.begin(), options.end());
        for (const fs::path& f : {a, b, tmp / "support", tmp / "logs"}) args.push_back(f);
        return startWithOutput(args, tmp / "tmpdir", out);
    }
    ToolResult run(const Options& options) const {
        const fs::path out = tmp / "out.json";
        int status = 0;
        ::waitpid(start(options, out), &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Json::parse(contents(out))};
    }
    // The report of a run with `options` that succeeds.
    Json succeeds(const Options& options) const {
        const Json out = run(options).out;
        EXPECT_EQ(out.value("outcome", ""), "success") << out;
        return out;
    }
    // What a run ends with, or a preview fails with.
    std::string message(const Options& options) const {
        const Json out = run(options).out;
        return out.contains("error") ? out["error"].value("message", "") : out.value("message", "");
    }
    // The plan a preview with `options` lists.
    Json plan(std::vector<std::string> options) const {
        options.insert(options.end(), {"--plan-only", "--list-plan"});
        const ToolResult result = run(options);
        EXPECT_EQ(result.status, 0) << result.out;
        return result.out;
    }

    // The nested-folders text of the engine that runs `mode`.
    static std::string nested(std::string_view mode) {
        return mode == "twoWay" ? TwoWayEngineError::nestedEndpoints().what() : OneWayEngineError::nestedEndpoints().what();
    }
    static std::string replaced(std::string_view mode, const fs::path& side) {
        return mode == "twoWay" ? TwoWayEngineError::folderReplaced(side, Side::b).what()
                                : OneWayEngineError::folderReplaced(side, Side::b).what();
    }

    static std::string unplaced(const fs::path& mount) {
        return VolumeInspectorError(VolumeInspectorError::Code::mountUnplaced, mount).what();
    }

    // Each way round, a and b set to x and y: `check`, then neither tree, reserved folder nor (where
    // `times`) top's time changed, and no marker left.
    template <class Check>
    void bothWays(const fs::path& x, const fs::path& y, Check check, bool times) {
        for (const auto& [sideA, sideB] : {std::pair{x, y}, std::pair{y, x}}) {
            a = sideA;
            b = sideB;
            SCOPED_TRACE(a.native() + " | " + b.native());
            const auto state = [&] {
                using Time = fs::file_time_type;
                return std::tuple{tree(a), tree(b), times ? fs::last_write_time(a) : Time{},
                                  times ? fs::last_write_time(b) : Time{}, fs::exists(a / ".KeltoSync"),
                                  fs::exists(b / ".KeltoSync")};
            };
            const auto before = state();
            check();
            EXPECT_EQ(state(), before);
            EXPECT_EQ(markersIn(a) + markersIn(b), 0);
        }
    }
    // Each way round, every one of `runs` refused as `layout` says.
    void refusedBothWays(const Refused& layout, const std::vector<Options>& runs) {
        bothWays(layout.x, layout.y, [&] {
            for (const Options& options : runs) {
                const std::string said = message(options);
                const bool named = layout.unplaced && said == unplaced(*layout.unplaced);
                EXPECT_TRUE(layout.onlyUnplaced ? named : named || said == nested(options.at(1)))
                    << options[1] << (options.back() == "--plan-only" ? " preview: " : ": ") << said;
            }
        }, layout.times);
    }
    // The real rsync, running the shell's `action` once: before its `nth`
    // run, or after it. `tag`.done shows that it did.
    fs::path rsyncActingAt(const std::string& tag, int nth, const std::string& action, bool after = false) const {
        const std::string real = RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR).native(), t = (tmp / tag).native();
        const std::string act = "if [ \"$(wc -l < '" + t + ".runs')\" -ge " + std::to_string(nth) + " ] && mkdir '" +
                                t + ".done' 2>/dev/null; then " + action + "; fi\n";
        return tmp.script("rsync-" + tag, "echo run >> '" + t + ".runs'\n" +
                                              (after ? "'" + real + "' \"$@\"\ncode=$?\n" + act + "exit $code"
                                                     : act + "exec '" + real + "' \"$@\""));
    }

    // (path, side) of each item of one of the plan's lists.
    static Pairs listed(const Json& out, const char* list, const char* key) {
        Pairs items;
        for (const Json& item : out.at("planLists").at(list))
            items.emplace(item.at("path").get<std::string>(), item.at(key).get<std::string>());
        return items;
    }
};

// Detached however the test ends, before the temporary folder goes.
struct Detached {
    fs::path at;
    ~Detached() { ::umount2(at.c_str(), MNT_DETACH); }
};

}  // namespace kelto::test
