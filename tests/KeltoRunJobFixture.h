#pragma once

#include "SyncAutomation/VolumeInspectorError.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/TwoWayEngineError.h"
#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"

#include <sys/wait.h>

namespace kelto::test {

using Pairs = std::set<std::pair<std::string, std::string>>;
using Options = std::vector<std::string>;

inline const std::vector<Options> everyRun{{"--mode", "twoWay"},
                                           {"--mode", "mirror", "--archive", "off"},
                                           {"--mode", "copy", "--archive", "off"},
                                           {"--mode", "mirror", "--plan-only"},
                                           {"--mode", "twoWay", "--plan-only"}};
inline const std::vector<Options> mirrorAndTwoWay{{"--mode", "mirror", "--archive", "off"},
                                                  {"--mode", "twoWay", "--archive", "off"}};

// "dir/" a folder, else a file's content, at t0.
inline void lay(const fs::path& root, const Files& entries) {
    for (const auto& [path, content] : entries)
        content == "dir/" ? (void)fs::create_directories(root / path) : putAt(root / path, content, t0);
}

inline bool nothingHeldIn(const fs::path& side) {
    const fs::path holding = side / ".KeltoSync/Holding";
    return !fs::exists(holding) || fs::is_empty(holding);
}

inline long markersIn(const fs::path& side) {
    long count = 0;
    for (const fs::path& folder : {side, side / ".KeltoSync"}) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error))
            count += entry.path().filename().native().starts_with(".KeltoSync-Marker-");
    }
    return count;
}

// Refused naming the nesting or `unplaced` (only `unplaced` with `onlyUnplaced`); `times`: tops' times kept.
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
        for (const fs::path& side : {a, b}) fs::create_directories(side);
    }

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
    Json succeeds(const Options& options) const {
        const Json out = run(options).out;
        EXPECT_EQ(out.value("outcome", ""), "success") << out;
        return out;
    }
    // A run from `from` to `to` (made if missing) that must succeed.
    Json succeedsBetween(const fs::path& from, const fs::path& to, const Options& options) {
        a = from;
        b = to;
        fs::create_directories(b);
        return succeeds(options);
    }
    Json plan(std::vector<std::string> options) const {
        options.insert(options.end(), {"--plan-only", "--list-plan"});
        const ToolResult result = run(options);
        EXPECT_EQ(result.status, 0) << result.out;
        return result.out;
    }

    static std::string nested(std::string_view mode) {
        return mode == "twoWay" ? TwoWayEngineError::nestedEndpoints().what() : OneWayEngineError::nestedEndpoints().what();
    }

    // Each way round: refused, no tree, reserved folder or (`times`) top's time changed, no marker left.
    void refusedBothWays(const Refused& layout, const std::vector<Options>& runs) {
        for (const auto& [sideA, sideB] : {std::pair{layout.x, layout.y}, std::pair{layout.y, layout.x}}) {
            a = sideA;
            b = sideB;
            SCOPED_TRACE(a.native() + " | " + b.native());
            const auto state = [&] {
                using Time = fs::file_time_type;
                return std::tuple{tree(a), tree(b), layout.times ? fs::last_write_time(a) : Time{},
                                  layout.times ? fs::last_write_time(b) : Time{}, fs::exists(a / ".KeltoSync"),
                                  fs::exists(b / ".KeltoSync")};
            };
            const auto before = state();
            for (const Options& options : runs) {
                const Json out = run(options).out;
                const std::string said =
                    out.contains("error") ? out["error"].value("message", "") : out.value("message", "");
                const bool named =
                    layout.unplaced &&
                    said == VolumeInspectorError(VolumeInspectorError::Code::mountUnplaced, *layout.unplaced).what();
                EXPECT_TRUE(layout.onlyUnplaced ? named : named || said == nested(options.at(1)))
                    << options[1] << (options.back() == "--plan-only" ? " preview: " : ": ") << said;
            }
            EXPECT_EQ(state(), before);
            EXPECT_EQ(markersIn(a) + markersIn(b), 0);
        }
    }
    // Runs the shell's `action` once, before rsync's `nth` run or after it; `tag`.done shows that it did.
    fs::path rsyncActingAt(const std::string& tag, int nth, const std::string& action, bool after = false) const {
        const std::string real = RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR).native(), t = (tmp / tag).native();
        const std::string act = "if [ \"$(wc -l < '" + t + ".runs')\" -ge " + std::to_string(nth) + " ] && mkdir '" +
                                t + ".done' 2>/dev/null; then " + action + "; fi\n";
        return tmp.script("rsync-" + tag, "echo run >> '" + t + ".runs'\n" +
                                              (after ? "'" + real + "' \"$@\"\ncode=$?\n" + act + "exit $code"
                                                     : act + "exec '" + real + "' \"$@\""));
    }

    static Pairs listed(const Json& out, const char* list, const char* key) {
        Pairs items;
        for (const Json& item : out.at("planLists").at(list))
            items.emplace(item.at("path").get<std::string>(), item.at(key).get<std::string>());
        return items;
    }
};

}  // namespace kelto::test
