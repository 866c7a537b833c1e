#pragma once

#include <filesystem>
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
};

}  // namespace kelto
