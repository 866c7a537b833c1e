#pragma once

#include "SyncModel/Support/FileDescriptor.h"

#include <filesystem>
#include <string_view>

namespace kelto {

// Where a run writes the lists of the user's paths that it hands rsync: a
// folder of the job's own that only the user can enter. In the shared
// temporary folder every user of the machine could read the names in the
// user's private folders, and a killed run left them there. Each list is
// readable by the user alone; the run that finds no other using the folder
// clears what killed runs left.
class PrivateListFolder {
public:
    static constexpr std::string_view listPrefix = "KeltoSync-files-";

    // Makes the folder (0700, its parents as needed) or opens it without
    // following a link, tightening the user's own to 0700, and holds it
    // shared for the value's life. A folder held by no other run is cleared
    // of the lists killed runs left there first. Throws FileError: ENOTDIR
    // for a link or a non-folder, EACCES for another user's folder.
    explicit PrivateListFolder(const std::filesystem::path& folder);

    // A new list holding `bytes`, mode 0600; returns its path. Throws
    // FileError, leaving nothing behind.
    std::filesystem::path write(std::string_view bytes) const;

    // Removes a list that write() made; failures are ignored.
    void remove(const std::filesystem::path& list) const noexcept;

private:
    std::filesystem::path path_;
    FileDescriptor folder_;
};

}  // namespace kelto
