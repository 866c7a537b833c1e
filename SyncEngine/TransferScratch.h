#pragma once

#include "SyncEngine/RsyncInvocation.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileIO.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Where rsync keeps unfinished files while it transfers into a folder R: its
// partial transfers in R/.KeltoSync/Partial and its temporaries in
// R/.KeltoSync/Temporary, both inside the reserved folder that every listing
// and transfer excludes. So a run killed hard leaves nothing among the
// user's files that a later run could take for one of them. A transfer no
// temporary folder serves (temporaryFolderFor) has its copies recorded
// with its plan instead, by which settling or recovery clears them
// (HoldingFolder).
//
// The partial folder is one flat folder: an interrupted "a/x" can only serve
// as the basis of another "x", which rsync verifies and then discards.
struct TransferScratch {
    // The run log's line for each leftover a claim could not remove.
    static constexpr std::string_view leftoverLine = "Could not clear a leftover of an earlier run: ";

    // A run's hold on R's temporary folder: a shared lock on the folder,
    // which dies with the process however it ends. Movable, not copyable.
    class Claim {
    public:
        Claim() = default;
        // What was left but could not be removed; it stays in the reserved
        // folder, where no run sees it, until a later claim removes it.
        const std::vector<FileError>& leftovers() const { return leftovers_; }

    private:
        friend struct TransferScratch;
        FileDescriptor folder_;
        std::vector<FileError> leftovers_;
    };

    static std::filesystem::path partialFolder(const std::filesystem::path& root);
    static std::filesystem::path temporaryRelativePath();

    // Claims R's temporary folder (made ready with the reserved tree) for one
    // run. A run that finds no other run holding it removes what is there:
    // files of runs that ended before rsync could clean up, never a finished
    // file. Links are removed, never followed. Throws FileError when the
    // folder cannot be opened.
    // `whileAlone` runs, when the run is alone, before others may join: what
    // else a run may only do alone belongs there.
    static Claim claim(const std::filesystem::path& root, const std::function<void()>& whileAlone = {});

    // Below this size a file that a stopped transfer left unfinished is
    // copied again whole rather than resumed from the partial folder.
    static constexpr std::int64_t resumableSize = std::int64_t{1} << 20;

    // Gives a transfer into R that writes the files at `paths` (relative to
    // R) its partial and temporary folders. A transfer known to write no
    // file gets neither, since each costs rsync a lookup per file it
    // compares, nor the partial folder when `largest`, the size of the
    // largest of those files, is known and below resumableSize; one that
    // may also write files found since the list was made (`listComplete`
    // false) always gets both. `root`: R as the run holds it
    // (EndpointCheck::Held::path). The partial folder, which rsync takes as
    // an absolute path, is named through rsync's own working folder, the
    // held destination.
    static void assign(RsyncInvocation& transfer, const std::filesystem::path& root,
                       const std::vector<std::string>& paths, bool listComplete = true,
                       std::optional<std::int64_t> largest = std::nullopt);

    // The temporary folder, relative to R as rsync is given it, for a
    // transfer that writes the files at `paths`, when the folder of every
    // one of them lies on the temporary folder's mount and file system;
    // nullopt otherwise. Across them rsync cannot rename a finished
    // temporary into place: it copies it over the old file, and a run
    // stopped then leaves that file cut short. Never throws: what cannot be
    // examined counts as elsewhere.
    static std::optional<std::filesystem::path> temporaryFolderFor(const std::filesystem::path& root,
                                                                   const std::vector<std::string>& paths);
};

}  // namespace kelto
