#pragma once

#include "SyncEngine/RsyncEvent.h"

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kelto {

// Catches source files rewritten while rsync copied them. rsync gives a copy
// the modification time it listed before reading, so a copy of a file
// changed meanwhile can look current while holding bytes the source never
// held together. The sources' stats are read before the transfer and again after
// it; a copy found out is kept but made to look stale, so the next run copies
// it again instead of taking it for the source's version. The stats read
// before also tell which copies arrived.
class CopySourceCheck {
public:
    // Whether a copy's modification time (`held`) stands for its source's
    // (`intended`) on the receiving side.
    using SameTime = std::function<bool(std::int64_t held, std::int64_t intended)>;

    static constexpr std::string_view changedLine = "Source changed while copying; copied again next run: ";
    static constexpr std::string_view goneLine = "Source gone by the end of the run; its copy is kept: ";
    // Followed by the path, ": " and the reason.
    static constexpr std::string_view unmarkedLine = "Could not mark the copy to be copied again: ";
    static constexpr std::string_view olderTimeNotKept = "its file system cannot hold an older time";

    // Reads the stats of the regular files among `paths` (relative to
    // `sourceRoot`, never followed through a link); what is not a regular
    // file, or cannot be looked at, is not watched.
    CopySourceCheck(const std::filesystem::path& sourceRoot, const std::vector<std::string>& paths);

    // The watched paths among `copied` whose source now differs in size,
    // modification time or change time (to the nanosecond), is gone or can
    // no longer be looked at; in the order of `copied`, each once.
    std::vector<std::string> changed(const std::vector<std::string>& copied);

    // Sets the modification time of the regular file at `path` below
    // `destinationRoot` more than `modifyWindow` seconds before what the
    // source showed at either look, so that neither rsync's quick check nor
    // a two-way plan takes the two for equal; when both sides are taken for
    // changed the source is the newer. Nothing else there is touched. False
    // when the file system kept the time it had (it cannot hold an older
    // one). Throws FileError.
    bool markStale(const std::filesystem::path& destinationRoot, const std::string& path,
                   std::int64_t modifyWindow) const;

    // Of the files (and links) rsync named as copied, those the receiving
    // side under `destinationRoot` holds as copies of their sources: of the
    // source's kind and size, with a time `sameTime` takes for the source's,
    // as the next comparison would find them in step. rsync names a file
    // before its receiver writes it, so one whose write failed or was cut
    // off (a name the disk refused, a full disk, a killed rsync) is not among
    // them. The source as read before the transfer where it was (a source
    // changed or gone since still has its copy), else as it stands now; what
    // cannot be looked at has not arrived. In the order of `copied`.
    std::vector<ItemizedChange> arrived(const std::filesystem::path& destinationRoot,
                                        const std::vector<ItemizedChange>& copied, const SameTime& sameTime) const;

    // For a path changed() gave: marks the copy stale when its source is
    // still there, and returns the lines that tell the user what became of
    // the source and, when the mark did not take, why.
    std::vector<std::string> markAndDescribe(const std::filesystem::path& destinationRoot, const std::string& path,
                                             std::int64_t modifyWindow) const;

private:
    struct Seen {
        std::int64_t size;
        timespec modified;
        timespec changed;
    };
    static Seen seen(const struct stat& info);
    static bool same(const Seen& x, const Seen& y);

    std::filesystem::path root_;
    std::unordered_map<std::string, Seen> before_;
    std::unordered_map<std::string, std::int64_t> oldestSeconds_;  // of the changed ones, both looks
    std::unordered_set<std::string> gone_;                         // of the changed ones, absent at the second look
};

}  // namespace kelto
