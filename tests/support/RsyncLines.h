#pragma once

#include "SyncEngine/RsyncEvent.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kelto::test {

// rsync's output lines for scripted runs, with line ends; names as rsync prints them ("\#ooo" escapes).
struct RsyncLines {
    // A "--list-only" line of a folder, or else of a file.
    static std::string listed(EntryKind kind, std::int64_t size, std::int64_t mtime, std::string_view name);
    // An itemised-change line ("%i %l %b %n"); `code` is rsync's 11 characters, deletions "*deleting  ".
    static std::string itemized(std::string_view code, std::int64_t size, std::string_view name);
    // A whole-transfer progress line, ended with a carriage return as rsync does.
    static std::string progress(std::int64_t bytes, int percent);
};

}  // namespace kelto::test
