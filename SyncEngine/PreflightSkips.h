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

// Which entries the receiving folder cannot hold as they are (names its file
// system refuses, files too large for it, names it cannot tell apart by
// case), each judged by the disk it lands on (FileSystemTraits::landingIn),
// and the rsync exclude file that makes the transfer pass over them.
struct PreflightSkips {
    struct Candidate {
        std::string path;       // relative to the transfer root, as rsync gave it
        std::int64_t size = 0;  // 0 for folders
    };

    // Each path at most once, in order of first occurrence; a name the disk
    // refuses beats size, size beats case.
    static std::vector<SkippedFile> evaluate(const std::vector<Candidate>& candidates, const FileSystemTraits& traits);

    // Whether every component of the relative path is a name the disk it
    // lands on holds.
    static bool holdsPath(const FileSystemTraits& traits, std::string_view path);

    // Candidates of one listing whose path, or a folder on the way, the
    // listing spells in two ways that differ only in Unicode normalisation,
    // in a folder on a disk that ignores case. exFAT, FAT and NTFS keep such
    // spellings apart, yet a run matches names on a volume that ignores case
    // by folding both case and normal form, so it cannot act on one twin
    // without the other. Each path once, in order of first occurrence, as
    // normalisationTwin.
    static std::vector<SkippedFile> normalisationTwins(const std::vector<Candidate>& candidates,
                                                       const FileSystemTraits& traits);

    // The longest record, NUL left out, that rsync reads from an exclude
    // file: its line buffer is 4096 bytes with the terminator, and it drops
    // a longer line with only a warning, exiting 0.
    static constexpr std::size_t maximumRecordLength = 4095;

    // The bytes of the exclude file: per skipped path "/", the path (escaped
    // when it holds a wildcard) and a NUL, for rsync's --from0.
    static std::string excludeFileContents(const std::vector<SkippedFile>& skipped);

    // Whether the path's record fits within maximumRecordLength.
    static bool canExclude(std::string_view path);

    // Writes the exclude file atomically; throws FileError.
    static void writeExcludeFile(const std::vector<SkippedFile>& skipped, const std::filesystem::path& path);
};

}  // namespace kelto
