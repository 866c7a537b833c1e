#pragma once

// Two folders, a and b, for kelto-run-job to run a job on, its support and
// log folders beside them, and its JSON report read back.

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

    // Runs the tool on a and b with `options` before the folders.
    ToolResult run(std::vector<std::string> options) const {
        const fs::path out = tmp / "out.json";
        std::vector<std::string> args{KELTO_RUN_JOB};
        args.insert(args.end(), options.begin(), options.end());
        for (const fs::path& f : {a, b, tmp / "support", tmp / "logs"}) args.push_back(f);
        const pid_t pid = startWithOutput(args, tmp / "tmpdir", out);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Json::parse(contents(out))};
    }

    // The message a run with `options` ends with.
    std::string message(const std::vector<std::string>& options) const { return run(options).out.value("message", ""); }
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

    // Each way round, a and b set to x and y: `check`, then neither tree changed.
    template <class Check>
    void bothWays(const fs::path& x, const fs::path& y, Check check) {
        for (const auto& [sideA, sideB] : {std::pair{x, y}, std::pair{y, x}}) {
            a = sideA;
            b = sideB;
            SCOPED_TRACE(a.native() + " | " + b.native());
            const auto before = std::pair{tree(a), tree(b)};
            check();
            EXPECT_EQ(std::pair(tree(a), tree(b)), before);
        }
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
