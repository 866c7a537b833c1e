#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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
};

}  // namespace kelto
