#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// The mount table as libmount reads it (escapes decoded), with every mount
// that no path reaches any more left out.
struct MountTable {
    struct Record {
        std::string mountPoint;
        std::string fileSystem;
        std::string source;
        // The folder of the file system the mount shows: "/" for a whole
        // file system, a sub-folder for a bind mount or a btrfs subvolume.
        std::string root = "/";
        dev_t device = 0;
        bool readOnly = false;
        // The folders a stacked file system shows the files of: an
        // overlay's layers, a FUSE file system's source when that is a path
        // (a pass-through such as bindfs).
        std::vector<std::string> stackedOn;
        // The user a FUSE mount was made by (its user_id option), whose
        // configuration its program read; unknown for other mounts.
        std::optional<uid_t> owner;
    };

    // The visible records of a mountinfo (or mtab) file, in table order;
    // empty when it cannot be read. The mount that serves a path is the one
    // mounted last at or above it, so a mount is hidden by one mounted over
    // it at its own mount point and by one mounted later above it (a mount
    // at /mnt/a made after one at /mnt/a/b hides the latter), and so is
    // everything mounted inside a hidden mount. mountinfo tells what was
    // mounted on what; an mtab, which does not, is taken in mount order.
    static std::vector<Record> read(const std::filesystem::path& file);
};

}  // namespace kelto
