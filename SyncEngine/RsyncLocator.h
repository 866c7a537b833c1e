#pragma once

#include "SyncEngine/RsyncLocatorError.h"

#include <filesystem>

namespace kelto {

// Where the rsync executable lives: inside the application bundle, a folder
// laid out as Contents/bin/kelto-sync (the program) and Contents/Helpers/rsync.
struct RsyncLocator {
    // The bundle's rsync path; no file-system check.
    static std::filesystem::path bundledPath(const std::filesystem::path& bundleRoot);

    // The bundle that holds the running program, found from /proc/self/exe
    // (three levels up from Contents/bin/<program>). Throws
    // RsyncLocatorError::notFound when the program's own path cannot be read.
    static std::filesystem::path mainBundleRoot();

    // bundledPath() when it names an executable regular file (symbolic links
    // followed); otherwise throws RsyncLocatorError::notFound with that path.
    static std::filesystem::path requireExecutable(const std::filesystem::path& bundleRoot);
    static std::filesystem::path requireExecutable() { return requireExecutable(mainBundleRoot()); }
};

}  // namespace kelto
