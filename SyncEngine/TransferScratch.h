#pragma once

#include "SyncEngine/RsyncInvocation.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// Where rsync keeps unfinished files while it transfers into a folder R: its
// partial transfers in R/.KeltoSync/Partial and its temporaries in
// R/.KeltoSync/Temporary, both inside the reserved folder that every listing
// and transfer excludes. So a run killed hard leaves nothing among the
// user's files that a later run could take for one of them.
struct TransferScratch {
    static std::filesystem::path partialFolder(const std::filesystem::path& root);
    static std::filesystem::path temporaryFolder(const std::filesystem::path& root);

    // Removes what the temporary folder holds: files of runs that ended
    // before rsync could clean up. Nothing there is ever a finished file.
    // Links are removed, never followed. A missing folder is fine. Throws
    // FileError.
    static void clearTemporaries(const std::filesystem::path& root);

    // Gives a transfer into R that writes the files at `paths` (relative to
    // R) its partial and temporary folders; a transfer that writes no file
    // gets neither, since each costs rsync a lookup per file it compares.
    static void assign(RsyncInvocation& transfer, const std::filesystem::path& root,
                       const std::vector<std::string>& paths);

    // The temporary folder as rsync is given it, relative to R (rsync walks
    // every piece of it for each file, so the shorter the better).
    static std::filesystem::path temporaryRelativePath();

    // The temporary folder, relative to R, for a transfer that writes the
    // files at `paths`, when the folder of every one of them lies on the
    // reserved folder's mount; nullopt otherwise. Across mounts rsync cannot
    // rename a finished temporary into place: it copies it over the old file,
    // and a run stopped then leaves that file cut short. Never throws: what
    // cannot be examined counts as another mount.
    static std::optional<std::filesystem::path> temporaryFolderFor(const std::filesystem::path& root,
                                                                   const std::vector<std::string>& paths);
};

}  // namespace kelto
