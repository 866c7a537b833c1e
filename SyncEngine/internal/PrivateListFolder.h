#pragma once

#include "SyncModel/Support/FileDescriptor.h"

#include <filesystem>
#include <string_view>

namespace kelto {

// Where the engines write the lists of the user's paths that they hand
// rsync (a two-way run's files to copy, a one-way plan's or run's files to
// leave out): a folder of the job's own that only the user can enter. In the
// shared temporary folder every user of the machine could read the names in
// the user's private folders, and a killed run left them there. Each list
// is readable by the user alone; whoever finds no other using the folder
// clears what killed runs left.
class PrivateListFolder {
public:
    // Every list's name begins with this; nothing else of ours is cleared.
    static constexpr std::string_view commonPrefix = "KeltoSync-";
    static constexpr std::string_view filesPrefix = "KeltoSync-files-";
    static constexpr std::string_view excludesPrefix = "KeltoSync-excludes-";

    // Makes the folder (0700, its parents as needed) or opens it without
    // following a link, tightening the user's own to 0700, and holds it
    // shared for the value's life. A folder held by no other run is cleared
    // of the lists killed runs left there first. Throws FileError: ENOTDIR
    // for a link or a non-folder, EACCES for another user's folder, EINVAL
    // for an empty path.
    explicit PrivateListFolder(const std::filesystem::path& folder);

    // A new list named `prefix` (one of the above) and a new UUID, holding
    // `bytes`, mode 0600; returns its path. Throws FileError, leaving
    // nothing behind.
    std::filesystem::path write(std::string_view prefix, std::string_view bytes) const;

    // Removes a list that write() made; failures are ignored.
    void remove(const std::filesystem::path& list) const noexcept;

private:
    std::filesystem::path path_;
    FileDescriptor folder_;
};

}  // namespace kelto
