#pragma once

#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/PlannedRename.h"
#include "SyncEngine/RsyncEvent.h"
#include "SyncModel/RunStats.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Renames an item on the receiving side of a copy so that its bytes spell its
// path as the sending side does, before it is overwritten: on a volume that
// ignores case or normalisation the copy would otherwise keep the old spelling.
struct SpellingAlignment {
    // Renames the item found as `actual` under `root`, component by component,
    // until its bytes spell `desired`. Never replaces another item: an existing
    // different item at the new spelling, or nothing under either spelling,
    // fails with EEXIST. Throws TwoWayEngineError (unsafePath) or FileError;
    // components renamed before a failure stay renamed.
    static void align(std::string_view desired, std::string_view actual, const std::filesystem::path& root);

    // Whether `other`, another spelling of the relative path `actual`,
    // reaches the item at `actual` under `root`, as on a volume that ignores
    // case or normalisation. What cannot be looked at reaches nothing; nothing
    // where another item that looks the same may be what `other` reaches.
    static std::optional<bool> reachesSameItem(std::string_view other, std::string_view actual,
                                               const std::filesystem::path& root);

    static constexpr std::string_view failedLine = "Could not align destination spelling: ";
    // The line naming an alignment that failed: failedLine, the path, ": "
    // and the error's description.
    static std::string failure(std::string_view desired, const std::exception& error);

    // A one-way run's renames, in the order given, skipping those below a
    // folder whose rename failed. A rename that fails keeps the transfer
    // away from both spellings, so that the item is neither updated nor
    // deleted: `failures` names it (failure()), `keptOut` holds both
    // spellings.
    struct Aligned {
        std::vector<std::string> failures;
        std::vector<SkippedFile> keptOut;
    };
    static Aligned alignAll(const std::vector<PlannedRename>& renames, const std::filesystem::path& root);

    // On a destination that takes two spellings for one name (letter case,
    // Unicode normalisation), rsync compares names by their bytes: an item of B
    // that A spells otherwise is listed as deleted although A's line stands on
    // that very item, and the deletion after the transfer would take what the
    // transfer just updated. Such an item is renamed to A's spelling before the
    // transfer. It is one where B reaches the same item under both spellings;
    // where A itself holds two spellings, the preflight skips decide. Parents
    // come before their children, each item once. Where B holds another item
    // that looks the same, so that which of them A's spelling reaches cannot be
    // told, neither is renamed nor deleted nor written: `unsure` gets both
    // spellings, to be left out of the transfer. `look`: a one-way dry run's
    // lines.
    static std::vector<PlannedRename> respellings(const std::vector<ItemizedChange>& look,
                                                  const std::filesystem::path& destination,
                                                  const FileSystemTraits& traits, std::vector<SkippedFile>& unsure);

    // rsync matches its exclude file by the bytes of a name, so on a destination
    // that takes two spellings for one name, B's item spelled otherwise than a
    // path kept out of the transfer would be deleted as one A lacks, although it
    // is the item that path reaches (A spelling a name twice, each skipped). The
    // look's deletions under another spelling of a kept-out path, or below one,
    // are kept out too.
    static std::vector<SkippedFile> otherSpellingsOnB(const std::vector<SkippedFile>& keptOut,
                                                      const std::vector<ItemizedChange>& look,
                                                      const FileSystemTraits& traits);

    // The look as rsync gives it once the renames are done: deletion lines that
    // named a renamed item, or what it holds, under an old spelling are gone,
    // and the others are spelled below renamed folders as they will be, each
    // once. Nothing when there is nothing to rename. Only the renamed item's
    // own spelling is respelled: another item whose name merely folds alike
    // (composed otherwise, on a volume that keeps those apart) stays as it is.
    static std::optional<std::vector<ItemizedChange>> respelled(const std::vector<ItemizedChange>& look,
                                                                const std::vector<PlannedRename>& renames);
};

}  // namespace kelto
