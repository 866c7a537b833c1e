#pragma once

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace kelto {

// Whether two folders' trees reach each other: the service both engines ask
// at every endpoint check and cannot be made without. The mount table is one
// witness (one folder mounted below the other, a stacked file system over
// the other, one file system shown twice); the trees themselves are the
// other, through markers the engines place while they list (see
// OverlapMarkers), so a mount the table cannot explain is still seen.
class TreeOverlap {
public:
    // Whether the mounts show the trees of `a` and `b` (links resolved)
    // reaching each other; asked afresh each time, so it must read the
    // mounts as they are when asked. Where it cannot tell, it throws, and
    // the check fails with its error.
    using MountCheck = std::function<bool(const std::filesystem::path& a, const std::filesystem::path& b)>;
    // Told a line for the run's log (a side no marker could be placed on).
    using Note = std::function<void(std::string_view line)>;
    // Where the other side's marker is looked up directly in a folder's
    // tree (links in the folder resolved): at each folder where something
    // is mounted, whatever the mounts show there, and `throughout`, at every
    // folder below one only the trees' own evidence places.
    struct Lookup {
        std::filesystem::path at;
        bool throughout = false;
        friend bool operator==(const Lookup&, const Lookup&) = default;
    };
    using Lookups = std::function<std::vector<Lookup>(const std::filesystem::path& folder)>;

    // Throws std::invalid_argument without a mount check: no overlap is
    // ever taken for granted.
    explicit TreeOverlap(MountCheck throughMounts, Note note = nullptr, Lookups lookups = nullptr);

    // Clears the markers walks killed part-way left in a folder (at its top
    // and in its reserved folder), as the next walk there would: for a
    // folder no job will walk again. Live walks' markers stay. Throws
    // FileError.
    static void clearLeftMarkers(const std::filesystem::path& folder);

    bool throughMounts(const std::filesystem::path& a, const std::filesystem::path& b) const {
        return throughMounts_(a, b);
    }
    void note(std::string_view line) const {
        if (note_) note_(line);
    }
    std::vector<Lookup> lookups(const std::filesystem::path& folder) const {
        return lookups_ ? lookups_(folder) : std::vector<Lookup>{};
    }

private:
    MountCheck throughMounts_;
    Note note_;
    Lookups lookups_;
};

}  // namespace kelto
