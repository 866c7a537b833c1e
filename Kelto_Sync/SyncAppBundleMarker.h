#pragma once

#include <filesystem>

namespace kelto {

// How the application finds its own bundle (Contents/bin/kelto-sync,
// Contents/Helpers, Contents/Resources, Info.ini): from the path of the
// running executable, as the rsync locator does.
struct SyncAppBundleMarker {
    // Throws RsyncLocatorError::notFound when the executable's path cannot be read.
    static std::filesystem::path bundleRoot();
};

}  // namespace kelto
