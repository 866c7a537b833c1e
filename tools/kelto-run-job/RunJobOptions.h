#pragma once

#include "SyncModel/SyncMode.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace kelto {

// What the command line says about one side's volume, over what the volume
// holding the folder says of itself: its UUID, its file system (and with it
// the case sensitivity that file system has) and its case sensitivity.
struct TwoWaySideOptions {
    std::optional<std::string> volumeUUID;
    std::optional<std::string> fileSystem;
    std::optional<bool> caseSensitive;
};

// The command line of kelto-run-job.
struct RunJobOptions {
    SyncMode mode = SyncMode::mirror;
    bool archive = true;
    std::optional<std::int64_t> retentionDays;  // absent: archives are kept for ever
    bool planOnly = false;
    bool confirm = false;
    bool printArguments = false;
    bool listPlan = false;
    TwoWaySideOptions a;  // the source
    TwoWaySideOptions b;  // the destination
    std::optional<std::filesystem::path> rsync;
    std::filesystem::path source;
    std::filesystem::path destination;
    std::filesystem::path supportFolder;
    std::filesystem::path logFolder;

    static constexpr const char* usage =
        "usage: kelto-run-job [options] SOURCE DESTINATION SUPPORT_FOLDER LOG_FOLDER\n"
        "  --mode mirror|copy|twoWay      the job's mode (default mirror)\n"
        "  --archive on|off               the job's archive (default on)\n"
        "  --retention-days N             days (1 to 365) the job's archives are kept (default: for ever)\n"
        "  --plan-only                    the preview's plan, run nothing\n"
        "  --confirm, --force             a confirmed run, carrying the plan a preview just before shows\n"
        "                                 as the reviewed one: the guard's review is not asked for\n"
        "  --list-plan                    add the plan's copies, archives, skipped files and conflicts\n"
        "  --volume-a UUID, --volume-b UUID\n"
        "                                 the volume UUID of a side, then found by its path as on an\n"
        "                                 internal volume (default: the volume's own identity, so a\n"
        "                                 share is found by its server and share)\n"
        "  --fs-type-a NAME, --fs-type-b NAME\n"
        "                                 a side's file system (default: as the mount table says)\n"
        "  --fs-type NAME                 the same as --fs-type-b\n"
        "  --case-sensitive-a yes|no, --case-sensitive-b yes|no\n"
        "                                 a side's case sensitivity, over what its file system implies\n"
        "                                 (FAT and exFAT fold case whatever this says)\n"
        "  --rsync PATH                   the rsync to run (default: the build's bundled one)\n"
        "  --print-rsync-args             print the arguments of the job's transfer, one a line, and stop\n";

    // Folders come back absolute and normalised. Throws std::invalid_argument
    // naming the problem.
    static RunJobOptions parse(int argc, const char* const* argv);
};

}  // namespace kelto
