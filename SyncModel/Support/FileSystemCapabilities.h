#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// What a file system keeps, by its type as the mount table names it
// ("ext4", "fuse.sshfs"): the one table every rule that leans on the disk
// asks. A type the table does not know is taken to keep the least, and
// every rule must still let an ordinary job run there.
struct FileSystemCapabilities {
    enum class HardLinks {
        none,
        // links exist, but each name may show a number of its own (FUSE
        // file systems that number names afresh)
        numberedAfresh,
        // every name of one file shows one number
        oneNumber,
    };

    std::string type;     // lower-cased; empty where unknown
    bool known = false;   // the table has a row for it
    // An item keeps its file number for its life, renames included.
    bool fileNumbersLast = false;
    HardLinks hardLinks = HardLinks::none;
    // renameat2 can refuse to replace (RENAME_NOREPLACE), or exchange.
    bool renameRefusesToReplace = false;
    bool renameExchanges = false;
    // The status-change time is stamped by this machine's kernel, from its
    // own clock, and no one can set it. Elsewhere (FAT, exFAT, FUSE, shares)
    // it is the modification time or a server's, which anyone may set.
    bool kernelStampsChange = false;
    // The coarsest step of its times, in nanoseconds.
    std::int64_t timeResolution = 2'000'000'000;
    bool foldsCase = false;
    bool foldsUnicode = false;  // composed and decomposed spellings are one name
    bool extendedAttributes = false;
    bool permissions = false;
    std::optional<std::int64_t> maxFileSize;
    // Another machine's server keeps the files.
    bool network = false;
    // Passes each lookup on to the one folder it shows, with no listing of
    // its own to answer from: a marker looked up there is the folder's.
    bool placedByMarkers = false;

    // Whether a rename there is worth trying with RENAME_NOREPLACE: where
    // the table knows it is refused, the attempt only costs a round trip.
    bool mayRefuseToReplace() const { return renameRefusesToReplace || !known; }

    // The row of a type as the mount table names it ("fuse.sshfs", "EXT4").
    static FileSystemCapabilities forType(std::string_view type);
    // The row of a statfs magic number; every FUSE file system is one
    // magic, so this gives the least they all keep.
    static FileSystemCapabilities forMagic(std::optional<std::int64_t> magic);
    // The row of the file system an open descriptor lies on: its magic
    // number, and for FUSE its type in the mount table. The least where
    // neither can be read.
    static FileSystemCapabilities ofOpen(int descriptor);
    // The rows of every file system a walk of the folder meets, as rsync
    // crosses mount points: the one it lies on and each mounted below it.
    // The least row among them where the folder or the mount table cannot
    // be read.
    static std::vector<FileSystemCapabilities> reachedFrom(const std::filesystem::path& folder);
};

}  // namespace kelto
