#pragma once

// Runs /usr/bin/rsync with the runner's environment (LC_ALL=C, TZ=UTC0) unless overridden.

#include "tests/support/TemporaryFolder.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace kelto::testing {

inline const char* const kRealRsync = "/usr/bin/rsync";

struct RsyncOutput {
    int code = -1;
    std::string out;
    std::string err;
};

inline RsyncOutput runRealRsync(const std::vector<std::string>& args,
                                const std::map<std::string, std::string>& env = {{"LC_ALL", "C"}, {"TZ", "UTC0"}}) {
    std::vector<std::string> argText{"/usr/bin/env"};  // the rest of this process's environment kept
    for (const auto& [k, v] : env) argText.push_back(k + "=" + v);
    argText.push_back(kRealRsync);
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argText) argv.push_back(s.data());
    argv.push_back(nullptr);
    const test::TemporaryFolder outputs;
    const std::filesystem::path out = outputs / "out", err = outputs / "err";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error(std::string("spawn: ") + std::strerror(rc));
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::readFile(out), test::readFile(err)};
}

using test::TemporaryFolder;

}  // namespace kelto::testing
