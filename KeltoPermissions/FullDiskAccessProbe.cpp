#include "KeltoPermissions/FullDiskAccessProbe.h"

#include <QStandardPaths>
#include <QtGlobal>

#include <cerrno>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

namespace kelto {
namespace {

std::filesystem::path userLocation(QStandardPaths::StandardLocation location) {
    return QStandardPaths::writableLocation(location).toStdString();
}

std::string userName() {
    const QByteArray name = qgetenv("USER");
    if (!name.isEmpty()) return name.toStdString();
    if (const passwd* entry = ::getpwuid(::getuid())) return entry->pw_name;
    return {};
}

// Runs the operation; answers whether it failed with a permission error,
// or nothing when it succeeded.
template <class Operation>
std::optional<bool> refusal(Operation operation) {
    try {
        operation();
        return std::nullopt;
    } catch (const std::exception& error) {
        return FullDiskAccessProbe::isPermissionError(error);
    }
}

}  // namespace

PermissionStatus FullDiskAccessProbe::status(const std::optional<std::filesystem::path>& database,
                                             const std::vector<std::filesystem::path>& directories,
                                             const ProbeFileAccess& files) {
    bool permissionErrorSeen = false;
    if (database) {
        const auto refused = refusal([&] { files.readOneByte(*database); });
        if (!refused) return PermissionStatus::granted;
        permissionErrorSeen = *refused;
    }
    for (const auto& directory : directories) {
        const auto refused = refusal([&] { files.listFolder(directory); });
        if (!refused) return PermissionStatus::granted;
        permissionErrorSeen = permissionErrorSeen || *refused;
    }
    return permissionErrorSeen ? PermissionStatus::missing : PermissionStatus::unverifiable;
}

std::vector<std::filesystem::path> FullDiskAccessProbe::defaultDirectories() {
    std::vector<std::filesystem::path> directories{userLocation(QStandardPaths::DesktopLocation),
                                                   userLocation(QStandardPaths::DocumentsLocation)};
    const std::string user = userName();
    if (!user.empty()) {
        directories.push_back(std::filesystem::path("/media") / user);
        directories.push_back(std::filesystem::path("/run/media") / user);
    }
    return directories;
}

bool FullDiskAccessProbe::isPermissionError(const std::exception& error) {
    if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
        const std::error_code code = system->code();
        if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted) return true;
    }
    if (const auto* nested = dynamic_cast<const std::nested_exception*>(&error); nested && nested->nested_ptr()) {
        try {
            nested->rethrow_nested();
        } catch (const std::exception& underlying) {
            return isPermissionError(underlying);
        } catch (...) {
            return false;
        }
    }
    return false;
}

}  // namespace kelto
