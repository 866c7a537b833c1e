#pragma once

#include <filesystem>

namespace kelto {

// Whether the machine runs on its battery, for jobs that skip automatic runs
// then. What cannot be read counts as mains power.
struct PowerSource {
    // On battery when a system battery is discharging and no external supply
    // (mains, USB, wireless …) is online. Batteries of attached devices, such
    // as a wireless mouse, do not count.
    static bool isOnBattery(const std::filesystem::path& supplies = "/sys/class/power_supply");
};

}  // namespace kelto
