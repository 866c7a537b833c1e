#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace kelto {

// The mount table as libmount reads it (escapes decoded), over-mounted
// entries dropped.
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
    };

    // The visible records of a mountinfo (or mtab) file, in table order;
    // empty when it cannot be read.
    static std::vector<Record> read(const std::filesystem::path& file);
};

}  // namespace kelto
