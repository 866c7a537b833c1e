#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>

namespace kelto {

// The whole seconds around the moment a listing began within which a time
// the baseline records may also be an edit's made after it: the baseline
// keeps whole seconds, a disk stamps in its own step (a card mounted below a
// side in FAT's two seconds), and times within the window count as one. An
// entry recorded within them is racy (Baseline); one recorded after them is
// racy too, since an edit within its second is only a matter of time.
struct RacyWindow {
    // The wall clock's second as the listing began (the clock the kernel and
    // local servers stamp files with); none where unknown, which makes every
    // time racy and every mark due.
    std::optional<std::int64_t> listedAt;
    // How far a stamp may lie from the moment it was made, plus the window.
    std::int64_t reach = 0;

    // Read just before both sides are listed.
    static RacyWindow now(const std::filesystem::path& a, const std::filesystem::path& b, std::int64_t modifyWindow);
    // The same window about another listing's second.
    RacyWindow at(std::optional<std::int64_t> second) const { return RacyWindow{second, reach}; }

    // The first recorded second that is racy from this listing.
    std::int64_t racyFrom() const { return listedAt ? *listedAt - reach : std::numeric_limits<std::int64_t>::min(); }
    // Read once the listings a plan compares are done: the last recorded
    // second whose mark is due then. A second still ahead of the clock has
    // had no edit within it yet (a camera's clock ran ahead, say).
    std::int64_t dueUntil() const;
};

}  // namespace kelto
