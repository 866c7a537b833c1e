#pragma once

// Runs /usr/bin/rsync with the runner's environment (LC_ALL=C, TZ=UTC0).

#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryFolder.h"

#include <sys/wait.h>

#include <string>
#include <vector>

namespace kelto::testing {

struct RsyncOutput {
    int code = -1;
    std::string out;
    std::string err;
};

inline RsyncOutput runRealRsync(const std::vector<std::string>& args) {
    // The rest of this process's environment kept.
    std::vector<std::string> argv{"/usr/bin/env", "LC_ALL=C", "TZ=UTC0", "/usr/bin/rsync"};
    argv.insert(argv.end(), args.begin(), args.end());
    const test::TemporaryFolder outputs;
    const pid_t pid = test::startWithOutput(argv, outputs / "tmp", outputs / "out", outputs / "err");
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(outputs / "out"), test::readFile(outputs / "err")};
}

using test::TemporaryFolder;

}  // namespace kelto::testing
