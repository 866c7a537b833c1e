#pragma once

#include "SyncEngine/internal/HoldingFolder.h"
#include "SyncModel/Support/Json.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace kelto {

// What a run records of its holding folder, as JSON: its plan, beside the
// folder as "<run identifier>.plan", and the mark of a settled folder,
// inside it. Paths are bytes, not text: one that is not UTF-8 is written as
// {"base64": "..."}, so every name reads back as it was. A record that cannot
// be read whole (cut short, written by an earlier version, spoilt) is no
// record: recovery then puts everything back, which loses nothing.
struct HoldingRecords {
    // The mark of a folder that a finished run settled, or a later run's
    // recovery marked, its own run having been killed.
    struct Mark {
        bool interrupted = false;                  // the run that held was killed
        std::unordered_set<std::string> placeTaken;  // kept for good, named by the run that marked it
    };

    // ".KeltoSync/Holding" below R, where the runs' folders and their plans lie.
    static std::optional<SafeFileSystem::Folder> openHoldingRoot(const SafeFileSystem::Folder& root);

    static std::string planName(std::string_view runID);
    // The run whose plan `name` is; nullopt for any other name.
    static std::optional<std::string> runOfPlan(std::string_view name);
    // Records the plan through the holding root, atomically. Throws FileError.
    static void writePlan(const SafeFileSystem::Folder& holdingRoot, const std::string& runID,
                          const HoldingFolder::Planned& planned);
    // The run's plan; nullopt where none was recorded or it cannot be read whole.
    static std::optional<HoldingFolder::Planned> readPlan(const SafeFileSystem::Folder& holdingRoot,
                                                          const std::string& runID);
    static std::optional<HoldingFolder::Planned> decodePlan(std::string_view bytes);
    // Never throws: a plan left behind is removed by a later recovery.
    static void removePlan(const SafeFileSystem::Folder& holdingRoot, const std::string& runID);
    // Removes `name` in the holding root where it is a plan whose run's
    // folder is gone, or one a kill cut short. Never throws.
    static void removeIfStray(const SafeFileSystem::Folder& holdingRoot, const std::string& name);

    // Whether `name`, in a run's folder, is its mark or what a kill left of
    // writing one: never a held item, as rsync never touches R's reserved folder.
    static bool isMarkName(std::string_view name);
    // Marks the run's folder, atomically. Throws FileError.
    static void writeMark(const SafeFileSystem::Folder& folder, const Mark& mark);
    // The folder's mark; nullopt where it has none or it cannot be read whole.
    // Throws FileError where it cannot be opened or read.
    static std::optional<Mark> readMark(const SafeFileSystem::Folder& folder);
    static std::optional<Mark> decodeMark(std::string_view bytes);
};

template <>
struct JsonCodec<HoldingFolder::Planned> {
    // What settling needs; the crossings' costs are left out.
    static Json encode(const HoldingFolder::Planned& value);
    static HoldingFolder::Planned decode(const JsonIn& in);
};

template <>
struct JsonCodec<HoldingRecords::Mark> {
    static Json encode(const HoldingRecords::Mark& value);
    static HoldingRecords::Mark decode(const JsonIn& in);
};

}  // namespace kelto
