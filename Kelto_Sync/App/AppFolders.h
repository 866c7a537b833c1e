#pragma once

#include <filesystem>

namespace kelto {

// Where the application keeps its files, after the XDG base directories.
// Nothing is created here: the first write into a folder makes it.
struct AppFolders {
    std::filesystem::path support;  // the jobs file, histories, baselines
    std::filesystem::path logs;     // run logs
    std::filesystem::path runtime;  // the single-instance lock and socket
    // `runtime` is the fallback in the shared temporary folder, where another
    // user may have made it first.
    bool runtimeIsShared = false;

    std::filesystem::path jobsFile() const { return support / "jobs.json"; }
    std::filesystem::path historyFolder() const { return support / "history"; }

    // $XDG_DATA_HOME/kelto-sync, $XDG_STATE_HOME/kelto-sync/logs and
    // $XDG_RUNTIME_DIR (else a per-user folder under the temporary folder),
    // each falling back to the standard default under `home`.
    static AppFolders fromEnvironment();
};

}  // namespace kelto
