#pragma once

#include "SyncModel/Support/FileIO.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kelto {

// Where a mirror whose archive is off has rsync put what it deletes or
// replaces: R/.KeltoSync/Holding/<run identifier>. Once the transfer is over
// the run discards what it meant to take away and puts everything else
// back, so a source that vanished or changed after the last look costs
// nothing the run did not name. Nothing here follows a symbolic link below R.
struct HoldingFolder {
    // An item left in a holding folder, and why.
    struct Kept {
        std::string path;  // as it was under R; empty for the holding folder itself
        FileError reason;  // EEXIST: something else stands at its place under R
    };

    // What settling one holding folder did besides discarding.
    struct Settlement {
        std::string folder;                // the holding folder, relative to R
        std::vector<std::string> putBack;  // back at their paths under R
        std::vector<Kept> kept;            // still in the holding folder
        bool hasItems() const { return !putBack.empty() || !kept.empty(); }
    };

    // What the run meant to take away: each path in `deleted` goes; one in
    // `replaced` goes only where something new now stands in its place.
    struct Planned {
        std::unordered_set<std::string> deleted;
        std::unordered_set<std::string> replaced;
    };

    // ".KeltoSync/Holding/<run identifier>", relative to R.
    static std::string relativePath(std::string_view runID);

    // Makes the run's holding folder in R's prepared reserved tree. Throws
    // FileError, with ENOTDIR for a link or a file in the way.
    static void prepare(const std::filesystem::path& root, const std::string& runID);

    // Discards from the run's holding folder what `planned` names, puts every
    // other item back at its path under R, making the folders on the way and
    // never replacing what stands there, and removes the folders it emptied,
    // the holding folder included. Never throws: an item that could be
    // neither discarded nor put back is kept and returned.
    static Settlement settle(const std::filesystem::path& root, const std::string& runID, const Planned& planned);

    // Marks the run's holding folder as one whose kept items were reported:
    // later runs leave it as it is and name it no more. Never throws; an
    // unmarked folder is recovered like an interrupted run's.
    static void markReported(const std::filesystem::path& root, const std::string& runID);

    // The holding folders that runs ended before settling (killed, or the
    // machine went down): every item goes back where its place under R is
    // free, the rest stays. Returns the folders that held anything, in name
    // order; emptied ones are removed; marked ones are left alone. Throws
    // FileError when the holding folders cannot be listed.
    static std::vector<Settlement> recover(const std::filesystem::path& root);
};

}  // namespace kelto
