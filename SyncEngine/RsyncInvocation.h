#pragma once

#include "SyncEngine/FileSystemTraits.h"
#include "SyncEngine/RsyncOperation.h"
#include "SyncModel/FilterSet.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// Everything an engine decides about one rsync run; RsyncArguments::build
// turns it into the command line.
struct RsyncInvocation {
    RsyncOperation operation;
    bool dryRun = false;
    std::filesystem::path source;
    std::optional<std::filesystem::path> destination;  // ignored by a listing
    FileSystemTraits traits;  // steers the options: the destination's, as FileSystemTraits::forTransfer keeps them
    FilterSet filters;
    // Names listed wherever the walk meets them, whatever `filters` say
    // (plain names, no patterns).
    std::vector<std::string> alwaysListed;
    // Leaves out every other item named as a walk's marker is (another
    // run's, at a folder both reach), so that none is taken for the user's.
    bool leaveOutMarkers = false;
    // Every file named is transferred, without rsync's own check of size and
    // whole-second time (a transfer only).
    bool ignoreTimes = false;
    std::optional<std::string> backupDirectory;  // relative to the destination folder
    std::optional<std::filesystem::path> extraExcludeFile;  // NUL-separated patterns
    std::optional<std::int64_t> maximumDeletions;           // mirror only
    // Folders inside the destination's reserved folder, for transfers only:
    // neither changes what a dry run or a listing prints. The partial folder
    // is absolute (rsync takes a relative one as one beside each file's
    // folder); the temporary folder may be relative to the destination.
    std::optional<std::filesystem::path> partialDirectory;
    std::optional<std::filesystem::path> temporaryDirectory;
};

}  // namespace kelto
