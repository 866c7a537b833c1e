#include "Platform/System/BlockDevices.h"

#include <blkid.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>

#include <fstream>
#include <memory>
#include <system_error>

namespace kelto {

namespace fs = std::filesystem;

namespace {
struct ProbeDeleter {
    void operator()(blkid_probe probe) const { blkid_free_probe(probe); }
};

std::optional<std::string> value(blkid_probe probe, const char* name) {
    const char* data = nullptr;
    std::size_t size = 0;
    if (blkid_probe_lookup_value(probe, name, &data, &size) != 0 || !data) return std::nullopt;
    std::string text(data, size);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}

// udev writes unsafe bytes of a label as \xNN.
std::string decodedLinkName(const std::string& name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
            out += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += name[i];
        }
    }
    return out;
}

std::optional<std::string> linkTo(const fs::path& folder, const fs::path& device) {
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code ignored;
        if (fs::canonical(it->path(), ignored) == device && !ignored)
            return decodedLinkName(it->path().filename().string());
    }
    return std::nullopt;
}

bool flaggedRemovable(const fs::path& folder) {
    std::ifstream in(folder / "removable");
    char flag = '0';
    return in >> flag && flag == '1';
}
}  // namespace

BlockDevices::Tags BlockDevices::probe(const std::string& devicePath) {
    if (devicePath.empty() || devicePath.front() != '/') return {};
    std::unique_ptr<std::remove_pointer_t<blkid_probe>, ProbeDeleter> probe(
        blkid_new_probe_from_filename(devicePath.c_str()));
    if (!probe) return {};
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_UUID | BLKID_SUBLKS_LABEL);
    if (blkid_do_safeprobe(probe.get()) != 0) return {};
    return Tags{value(probe.get(), "UUID"), value(probe.get(), "LABEL")};
}

BlockDevices::Tags BlockDevices::linked(const std::string& devicePath, const fs::path& diskLinks) {
    std::error_code error;
    const fs::path device = fs::canonical(devicePath, error);
    if (error) return {};
    return Tags{linkTo(diskLinks / "by-uuid", device), linkTo(diskLinks / "by-label", device)};
}

BlockDevices::Tags BlockDevices::read(const std::string& devicePath) {
    // udev's links stand in when the device cannot be read, or libblkid
    // finds no single answer.
    if (::access(devicePath.c_str(), R_OK) == 0)
        if (Tags tags = probe(devicePath); tags.uuid) return tags;
    return linked(devicePath);
}

bool BlockDevices::isRemovable(const fs::path& sysfsRoot, dev_t device) {
    if (device == 0) return false;
    const fs::path link =
        sysfsRoot / "dev" / "block" / (std::to_string(major(device)) + ":" + std::to_string(minor(device)));
    std::error_code error;
    const fs::path node = fs::canonical(link, error);
    if (error) return false;
    // A partition has no flag of its own; its disk is the parent folder.
    if (flaggedRemovable(node) || (fs::exists(node / "partition", error) && flaggedRemovable(node.parent_path())))
        return true;
    const fs::path root = fs::canonical(sysfsRoot, error);
    if (error) return false;
    for (const fs::path& part : node.lexically_relative(root)) {
        const std::string name = part.string();
        if (name.rfind("usb", 0) == 0) return true;
    }
    return false;
}

}  // namespace kelto
