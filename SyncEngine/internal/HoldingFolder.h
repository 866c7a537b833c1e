#pragma once

#include "SyncEngine/FolderIdentity.h"
#include "SyncEngine/HoldingShortfall.h"
#include "SyncModel/Support/ItemVersion.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kelto {

// Where a run (one-way, or a two-way direction) has rsync put what it
// deletes or replaces: R/.KeltoSync/Holding/<run identifier>, its plan
// recorded beside it. Once the transfer is over the run discards (or, with
// the archive on, archives) what it meant to take away, as it saw it, and
// puts everything else back, so a source that
// vanished or changed after the last look, or a file of R saved anew
// meanwhile, costs nothing the run did not name. Nothing here follows a
// symbolic link below R.
// What no settling can see: a new file put at an item's path in the moment
// between rsync's taking the old one into this folder and its rename of
// its copy over the path (an editor's save by rename on any disk; any save
// where the disk has no hard links, so rsync moved the old file away) is
// replaced by that rename and leaves nothing behind. Nor can a writer that
// still holds the old file open and writes after settling looked at it.
struct HoldingFolder {
    // The code a run ends with, where rsync's was 0, when it did its work
    // but a version it held could not go back (archived in its stead, or
    // held for good, named at every run): rsync's own code for a run that
    // completed with warnings, never a plain success, and no failure the
    // user cannot end (the lines name where the version lies).
    static constexpr std::int32_t displacedCode = 24;

    // An item left in a holding folder, and why. An item whose place is
    // taken, or that its place's file system cannot hold, can never go back
    // and is named at every run while it stays; every other one is tried
    // again by the next run's recovery.
    struct Kept {
        std::string path;  // as it was under R; empty for the holding folder itself
        FileError reason;
        // Something else stands at its place under R (EEXIST), or a link or a
        // file where a folder on its way should be (ENOTDIR).
        bool placeTaken = false;
        // The file system at its place cannot hold it: its kind, its name's
        // length or its size.
        bool cannotBeHeld = false;
        // Where the item was to go: back to its place (a version the plan
        // never saw), or, as the version the plan saw, into the archive or
        // away; then the disk refused that move.
        enum class Bound { back, archive, away };
        Bound bound = Bound::back;
        // It was the version the plan saw, but a folder on its way under R
        // is no longer the one the plan saw: rsync may have taken it from
        // wherever that folder went, or from the folder a link leads to.
        bool folderChanged = false;
        bool forGood() const { return placeTaken || cannotBeHeld; }
    };

    // What settling one holding folder did besides discarding.
    struct Settlement {
        std::string folder;                // the holding folder, relative to R
        std::vector<std::string> putBack;  // back at their paths under R
        // Versions that could not go back, their place taken, moved into the
        // archive folder `archivedIn` (relative to R) at their paths.
        std::vector<std::string> archived;
        std::string archivedIn;
        std::vector<Kept> kept;            // still in the holding folder
        std::vector<FileError> leftovers;  // rsync's temporaries that could not be cleared
        // The folder was marked by the run that filled it, which ended and
        // named what it kept; false for one a killed run left.
        bool fromFinishedRun = false;
        // What stays in the folder is only items kept for good, each named
        // at every run: the user may delete the folder.
        bool onlyPlaceTaken = false;
        std::string runID;  // the run that held
        // recover() only: that run recorded conflicts and did not live to
        // name them; `conflicts` are those whose loser its copy replaced.
        bool conflictsRecorded = false;
        std::vector<std::string> conflicts;
        bool hasItems() const {
            return !putBack.empty() || !archived.empty() || !kept.empty() || !leftovers.empty() ||
                   conflictsRecorded;
        }
        // Something stays held, or went back, for being a version the plan
        // never saw: only that asks for a new review.
        bool heldUnseen() const;
        bool hasRetries() const;  // a kept item the next run tries again
        // A version that could not go back: archived, or held for good.
        bool displaced() const;
        // Nothing but versions archived in place of going back: all else
        // done, the run that settled it ends in a warning, no failure.
        bool onlyArchived() const {
            return !archived.empty() && putBack.empty() && kept.empty() && leftovers.empty();
        }
    };

    // An item on a file system below R as the look before the transfer saw
    // it. rsync holds such an item by copying it into R's holding folder,
    // and the copy drops what the crossing cannot carry: its extended
    // attributes (unless the transfer keeps them) and its other names.
    // Looked at before, both come back with the held version that goes
    // back.
    struct Crossed {
        std::uint64_t device = 0;
        std::uint64_t fileNumber = 0;
        mode_t kind = 0;  // S_IFMT bits
        std::int64_t size = 0;
        timespec mtime{};
        SafeFileSystem::Attributes attributes;
        std::vector<std::string> otherNames;  // paths under R of the same file

        bool isVersion(const struct stat& held) const;
    };

    // What the run meant to take away: each path in `deleted` goes (a
    // folder once emptied); one in `replaced` goes only where something new
    // now stands in its place. Either goes only while the held item is the
    // version `seen` gives for its path, and each folder on its way is the
    // one `folders` gives, or gone as `deleted` meant: any other version
    // (saved anew since the plan looked), or one reached through another
    // folder, goes back. Where the transfer's own copy of the item at
    // `source` stands in the place of such a version, the two trade places
    // and the copy goes, so the next run finds the item changed and plans it.
    struct Planned {
        std::unordered_set<std::string> deleted;
        std::unordered_set<std::string> replaced;
        std::unordered_map<std::string, ItemVersion> seen;
        std::unordered_map<std::string, FolderIdentity> folders;  // by path under R
        std::filesystem::path source;  // the transfer's source folder; empty: no trading places
        std::int64_t modifyWindow = 0;  // seconds two copies' times may differ by
        std::unordered_map<std::string, Crossed> crossed;  // by path under R
        // What rsync's copies of the items deleted or replaced on another
        // file system than R's take of R's: bytes and items, by the path
        // under R where that file system is mounted. Not recorded.
        struct Crossing {
            std::int64_t bytes = 0;
            std::int64_t items = 0;
        };
        std::map<std::string, Crossing> crossing;
        // Where what goes is archived (the run's folder, relative to R);
        // none: it is deleted.
        std::optional<std::string> archiveTo;
        // The files the transfer writes, where rsync makes its temporaries
        // beside them (no temporary folder serves it): only by these names
        // is what a killed rsync left there told from the user's items.
        std::vector<std::string> copies;
        // The conflicts the transfer settles, its copy replacing the loser
        // at each path. The plan recording them stays until a run's result
        // names them (conflictsNamed): the run's own, or, where that run
        // ended first, the result of the run that recovers its folder.
        std::vector<std::string> conflicts;
    };

    // Looks at what lies on the file systems mounted at `mounts` (folders
    // inside R) that rsync's copy into the holding folder would drop: files
    // with extended attributes or more than one name; and counts what those
    // copies of the planned items take. Only those mounts are walked; what
    // cannot be read there, rsync cannot take either.
    static void lookBelow(const std::filesystem::path& root, const std::vector<std::filesystem::path>& mounts,
                          Planned& planned);
    // The same for those of `paths` (grouped by folder) that `planned`
    // replaces, where they lie on another file system than R: for a
    // transfer that takes only those.
    static void lookAtReplaced(const std::filesystem::path& root, const std::vector<std::string>& paths,
                               Planned& planned);

    // Notes what identifies each folder on the way to the items `planned`
    // saw, reached through R without following a link: what cannot be
    // noted keeps what lies in it.
    static void lookAtFolders(const std::filesystem::path& root, Planned& planned);

    // Where R's disk lacks the room for what `planned.crossing` counts, with
    // a margin: rsync's copy keeps no hole, so each item costs its whole
    // size. R is named as `shown`, how the user names it. nullopt where it
    // fits or nothing crosses. Throws FileError where the free space cannot
    // be read.
    static std::optional<HoldingShortfall> shortfall(const std::filesystem::path& root,
                                                     const std::filesystem::path& shown, const Planned& planned);

    // ".KeltoSync/Holding/<run identifier>", relative to R.
    static std::string relativePath(std::string_view runID);

    // Makes the run's holding folder in R's prepared reserved tree. Throws
    // FileError, with ENOTDIR for a link or a file in the way.
    static void prepare(const std::filesystem::path& root, const std::string& runID);

    // Records the run's plan beside its holding folder before the transfer:
    // a run killed before settling is then recovered as it would have
    // settled. Throws FileError.
    static void record(const std::filesystem::path& root, const std::string& runID, const Planned& planned);

    // Discards from the run's holding folder what `planned` names in the
    // version it saw, and any copy rsync cut short of an item that still
    // stands at its place (the disk filled as rsync copied it across), puts
    // every other item back at its path under R, making the folders on the
    // way and never replacing what stands there but the transfer's own copy
    // (where the disk trades places in one step), and removes the folders it
    // emptied, the holding folder included; clears the temporaries rsync
    // left of the planned copies. An item whose place is taken goes into
    // `planned.archiveTo` where the run archives, else stays held. Never
    // throws: an item that could be neither discarded, put back nor
    // archived is kept and returned.
    static Settlement settle(const std::filesystem::path& root, const std::string& runID, const Planned& planned);

    // Marks the run's holding folder as settled by a run that named what it
    // kept, recording the kept items whose place is taken: later runs put
    // those back no more (they archive them, or name them again), and try
    // the others again. Only a run whose result names what it kept marks
    // it. Never throws; an unmarked folder is recovered like an interrupted
    // run's.
    static void markReported(const std::filesystem::path& root, const std::string& runID,
                             const Settlement& settlement);

    // Forgets the conflicts the run recorded with its plan in R, once a
    // run's result names them: the plan goes where its folder has gone, or
    // stays without them. Never throws: those not forgotten are named again.
    static void conflictsNamed(const std::filesystem::path& root, const std::string& runID);

    // Adds one line for each item a holding folder gave back, archived or
    // still holds; then that the next run tries again what went on being
    // held for another reason than its place being taken, or, when only such
    // items stay, that the user may delete the folder, named where R is.
    static void describe(const Settlement& settlement, const std::filesystem::path& root,
                         std::vector<std::string>& lines);
    // How those lines begin.
    struct Wording {
        std::string_view putBack, kept, archived;
    };
    static void describe(const Settlement& settlement, const Wording& wording, const std::filesystem::path& root,
                         std::vector<std::string>& lines);
    // The same for what recover() gave back from an earlier or an
    // interrupted run, saying which.
    static void describeRecovered(const Settlement& settlement, const std::filesystem::path& root,
                                  std::vector<std::string>& lines);

    // The holding folders that runs left items in: killed runs (or the
    // machine went down) before settling, and finished runs that could not
    // put everything back. Every item goes back where its place under R is
    // free, except those a mark records as having their place taken (a copy
    // cut short that the recorded plan tells goes even so); what cannot,
    // its place taken, goes into `archiveTo` (the recovering run's archive
    // folder, relative to R) where the run archives; the rest stays, and a
    // marked folder records what has lost its place.
    // Where two runs held one path, the later run's item goes back, told by
    // when the folders were made. Where the run recorded its plan, what it
    // meant to take, in the version it saw, goes as settling would have
    // taken it, and the temporaries its rsync left of the planned copies
    // are cleared; what is kept is named at every run, whether the run
    // finished or was killed. Where a run that did not finish recorded
    // conflicts, also once its folder is gone, the settlement names those
    // whose loser, as the plan saw it, no longer stands at its place.
    // Returns the folders where anything went
    // back, was archived or stays, the earliest made first; emptied ones
    // are removed. Throws FileError when the holding folders cannot be
    // listed.
    static std::vector<Settlement> recover(const std::filesystem::path& root,
                                           const std::optional<std::string>& archiveTo = std::nullopt);
};

}  // namespace kelto
