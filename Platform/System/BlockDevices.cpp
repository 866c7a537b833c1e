#include "Platform/System/BlockDevices.h"

#include <blkid.h>
#include <sys/sysmacros.h>

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
