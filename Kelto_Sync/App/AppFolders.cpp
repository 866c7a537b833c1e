#include "Kelto_Sync/App/AppFolders.h"

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kelto {

namespace {

std::filesystem::path environment(const char* name) {
    const char* value = std::getenv(name);
    // The base directory rules ignore relative paths.
    if (!value || *value != '/') return {};
    return value;
}

std::filesystem::path home() {
    if (auto path = environment("HOME"); !path.empty()) return path;
    return "/";
}

}  // namespace

AppFolders AppFolders::fromEnvironment() {
    std::filesystem::path data = environment("XDG_DATA_HOME");
    if (data.empty()) data = home() / ".local/share";
    std::filesystem::path state = environment("XDG_STATE_HOME");
    if (state.empty()) state = home() / ".local/state";
    std::filesystem::path runtime = environment("XDG_RUNTIME_DIR");
    const bool shared = runtime.empty();
    if (shared) runtime = std::filesystem::temp_directory_path() / ("kelto-sync-" + std::to_string(getuid()));
    return {data / "kelto-sync", state / "kelto-sync" / "logs", runtime, shared};
}

}  // namespace kelto
