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
// asks, of a disk on hand through ofOpen alone. A type the table does not
// know is taken to keep the least (the default values below), and every
// rule must still let an ordinary job run there.
//
// Whether a rename can refuse to replace is no column: the kernel tells,
// and a move that must not replace asks it first on every disk
// (SafeFileSystem).
struct FileSystemCapabilities {
    enum class HardLinks {
        none,
        // links exist, but each name may show a number of its own (FUSE
        // file systems that number names afresh)
        numberedAfresh,
        // every name of one file shows one number
        oneNumber,
    };

    // The names it holds; "/" and NUL are in none.
    enum class Names {
        any,
        // Valid UTF-8 only: the disk stores names as UTF-16.
        unicode,
        // Windows' rules, which the FAT and exFAT drivers keep (refusing a
        // name, or stripping its end): valid UTF-8, none of " * : < > ? \ |,
        // no control character, no trailing dot or space.
        windows,
        // Windows' rules with its device names too (CON, PRN, AUX, NUL, COM1
        // to COM9, LPT1 to LPT9, alone or before a dot), which the NTFS
        // drivers refuse under windows_names, the desktop's default.
        windowsAndDevices,
    };

    std::string type;     // lower-cased; empty where unknown
    bool known = false;   // the table has a row for it
    // An item keeps its file number for its life, renames included.
    bool fileNumbersLast = false;
    HardLinks hardLinks = HardLinks::none;
    // The status-change time is stamped by this machine's kernel, from its
    // own clock, and no one can set it. Elsewhere (FAT, exFAT, FUSE, shares)
    // it is the modification time or a server's, which anyone may set.
    bool kernelStampsChange = false;
    // The coarsest step of its times, in nanoseconds.
    std::int64_t timeResolution = 2'000'000'000;
    // Names that differ only by letter case reach one item.
    bool foldsCase = true;
    bool foldsUnicode = false;  // composed and decomposed spellings are one name
    bool extendedAttributes = false;
    bool permissions = false;
    std::optional<std::int64_t> maxFileSize;
    // Another machine's server keeps the files.
    bool network = false;
    // Passes each lookup on to the one folder it shows, with no listing of
    // its own to answer from: a marker looked up there is the folder's.
    bool placedByMarkers = false;
    Names names = Names::any;
    // A file can be written anywhere once begun, as rsync's resumption of
    // an interrupted copy needs; some FUSE programs take only writes in order.
    bool writesAnywhere = false;

    // Whether a disk whose names follow `rule` holds `name`, one component of a path.
    static bool holds(Names rule, std::string_view name);

    // The row of a type as the mount table names it ("fuse.sshfs", "EXT4").
    static FileSystemCapabilities forType(std::string_view type);
    // The row of a statfs magic number: the first step of ofOpen, which a
    // disk on hand is asked through. Every FUSE file system is one magic,
    // so this gives the least they all keep.
    static FileSystemCapabilities forMagic(std::optional<std::int64_t> magic);
    // What the disk an open descriptor lies on keeps: the row of its magic
    // number, and for FUSE of its type in the mount table. The least where
    // neither can be read.
    static FileSystemCapabilities ofOpen(int descriptor);
    // The rows of every file system a walk of the folder meets, as rsync
    // crosses mount points: the one it lies on and each mounted below it.
    // The least row among them where the folder or the mount table cannot
    // be read.
    static std::vector<FileSystemCapabilities> reachedFrom(const std::filesystem::path& folder);

    struct Mounted;
    // Each file system mounted below the folder, in the mount table's order
    // (a later one at the same place is the one shown); nothing where the
    // folder or the mount table cannot be read.
    static std::optional<std::vector<Mounted>> mountedBelow(const std::filesystem::path& folder);
};

// A file system mounted below a folder: where, relative to the folder
// ("card", "media/disk"), and what it keeps.
struct FileSystemCapabilities::Mounted {
    std::string at;
    FileSystemCapabilities disk;
};

}  // namespace kelto
