#pragma once

#include <filesystem>

namespace kelto {

// Whether the application sits where a permission can be granted to it: a
// normal place, a translocated copy (a path component "AppTranslocation"),
// or a read-only file system.
struct AppInstallLocation {
    enum class Kind { normal, translocated, readOnlyVolume };

    Kind kind = Kind::normal;

    // Asks statvfs whether the file system is read-only; one it cannot ask
    // counts as writable.
    static AppInstallLocation detect(const std::filesystem::path& bundle);
    static AppInstallLocation detect(const std::filesystem::path& bundle, bool volumeIsReadOnly);

    bool isNormal() const { return kind == Kind::normal; }
    friend bool operator==(const AppInstallLocation&, const AppInstallLocation&) = default;
};

}  // namespace kelto
