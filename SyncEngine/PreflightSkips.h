#pragma once

#include "SyncEngine/FileSystemTraits.h"
#include "SyncModel/RunStats.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Which entries the receiving volume cannot hold as they are (too large for
// its file system, or names it cannot tell apart by case), and the rsync
// exclude file that makes the transfer pass over them.
struct PreflightSkips {
    struct Candidate {
        std::string path;       // relative to the transfer root, as rsync gave it
        std::int64_t size = 0;  // 0 for folders
    };

    // Each path at most once, in order of first occurrence; size beats case.
    static std::vector<SkippedFile> evaluate(const std::vector<Candidate>& candidates, const FileSystemTraits& traits);

    // The longest record, NUL left out, that rsync reads from an exclude
    // file: its line buffer is 4096 bytes with the terminator, and it drops
    // a longer line with only a warning, exiting 0.
    static constexpr std::size_t maximumRecordLength = 4095;

    // Candidates of one listing whose path, or a folder on the way, the
    // listing spells in two ways that differ only in Unicode normalisation:
    // a volume that ignores case may fold both onto one name. Each path once,
    // in order of first occurrence, as caseCollision.
    static std::vector<SkippedFile> normalisationTwins(const std::vector<Candidate>& candidates);

    // The bytes of the exclude file: per skipped path "/", the path (escaped
    // when it holds a wildcard) and a NUL, for rsync's --from0.
    static std::string excludeFileContents(const std::vector<SkippedFile>& skipped);

    // Whether the path's record fits within maximumRecordLength.
    static bool canExclude(std::string_view path);

    // Writes the exclude file atomically; throws FileError.
    static void writeExcludeFile(const std::vector<SkippedFile>& skipped, const std::filesystem::path& path);
};

}  // namespace kelto
