#include "SyncAutomation/PowerSource.h"

#include <fstream>
#include <optional>
#include <string>
#include <system_error>

namespace kelto {

namespace {

namespace fs = std::filesystem;

// One attribute of a supply: its first line without surrounding blanks.
std::optional<std::string> attribute(const fs::path& supply, const char* name) {
    std::ifstream in(supply / name);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    return line.substr(first, line.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

bool PowerSource::isOnBattery(const fs::path& supplies) {
    bool discharging = false;
    std::error_code error;
    for (fs::directory_iterator it(supplies, error); !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path supply = it->path();
        const std::optional<std::string> type = attribute(supply, "type");
        // A supply of unknown kind might be the mains that is online.
        if (!type) return false;
        if (*type == "Battery") {
            // Only the system's own batteries; a device's battery has scope "Device".
            if (attribute(supply, "scope") == "Device") continue;
            if (attribute(supply, "status") == "Discharging") discharging = true;
            continue;
        }
        const std::optional<std::string> online = attribute(supply, "online");
        if (!online) return false;
        if (*online == "1") return false;
    }
    return !error && discharging;
}

}  // namespace kelto
