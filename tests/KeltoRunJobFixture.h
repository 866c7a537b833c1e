#pragma once

// Two folders, a and b, for kelto-run-job to run a job on, its support and
// log folders beside them, and its JSON report read back.

#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"

#include <sys/wait.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kelto::test {

using Pairs = std::set<std::pair<std::string, std::string>>;

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

    // (path, side) of each item of one of the plan's lists.
    static Pairs listed(const Json& out, const char* list, const char* key) {
        Pairs items;
        for (const Json& item : out.at("planLists").at(list))
            items.emplace(item.at("path").get<std::string>(), item.at(key).get<std::string>());
        return items;
    }
};

}  // namespace kelto::test
