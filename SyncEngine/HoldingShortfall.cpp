#include "SyncEngine/HoldingShortfall.h"

#include <fmt/format.h>

namespace kelto {

namespace {

// Decimal units, as the windows show sizes.
std::string bytesText(std::int64_t count) {
    if (count < 1000) return fmt::format("{} bytes", count);
    if (count < 1000 * 1000) return fmt::format("{} kB", count / 1000);
    if (count < 1000 * 1000 * 1000) return fmt::format("{:.1f} MB", static_cast<double>(count) / 1e6);
    return fmt::format("{:.2f} GB", static_cast<double>(count) / 1e9);
}

}  // namespace

std::string HoldingShortfall::description() const {
    std::string where;
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        if (i > 0) where += i + 1 == mounts.size() ? " and " : ", ";
        where += "\"" + mounts[i].string() + "\"";
    }
    return fmt::format("Not enough room on the disk of \"{}\" to hold what this run deletes or replaces on {}: it "
                       "needs {}, {} free. Items on a disk mounted inside the folder are held as copies on the "
                       "folder's own disk until the run ends.",
                       folder.string(), where, bytesText(needed), bytesText(free));
}

}  // namespace kelto
