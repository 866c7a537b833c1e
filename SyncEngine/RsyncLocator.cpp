#include "SyncEngine/RsyncLocator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace kelto {

std::filesystem::path RsyncLocator::bundledPath(const std::filesystem::path& bundleRoot) {
    return bundleRoot / "Contents/Helpers/rsync";
}

std::filesystem::path RsyncLocator::mainBundleRoot() {
    std::string buffer(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size())
        throw RsyncLocatorError::notFound("/proc/self/exe");
    buffer.resize(static_cast<std::size_t>(n));
    return std::filesystem::path(buffer).parent_path().parent_path().parent_path();
}

std::filesystem::path RsyncLocator::requireExecutable(const std::filesystem::path& bundleRoot) {
    auto path = bundledPath(bundleRoot);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0)
        throw RsyncLocatorError::notFound(std::move(path));
    return path;
}

}  // namespace kelto
