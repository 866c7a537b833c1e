#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace kelto::test {

// Starts `arguments` with its output in `out` (and `err`) and TMPDIR at `temporaryFolder`, so that what it
// leaves there stays in the test's folder. The caller waits for the process.
inline pid_t startWithOutput(std::vector<std::string> arguments, const std::filesystem::path& temporaryFolder,
                             const std::filesystem::path& out, const std::filesystem::path& err = {}) {
    std::filesystem::create_directories(temporaryFolder);
    std::vector<std::string> env{"TMPDIR=" + temporaryFolder.native()};
    for (char** e = environ; *e; ++e)
        if (!std::string_view(*e).starts_with("TMPDIR=")) env.emplace_back(*e);
    std::vector<char*> argv, envp;
    for (auto& s : arguments) argv.push_back(s.data());
    for (auto& s : env) envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!err.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + arguments.front());
    return pid;
}

}  // namespace kelto::test
