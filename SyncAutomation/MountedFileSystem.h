#pragma once

#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelto {

// One visible entry of the mount table with the identity of what is mounted.
struct MountedFileSystem {
    std::filesystem::path mountPoint;
    // False for pseudo file systems (proc, sysfs, cgroup …): never offered as
    // volumes, yet they still hold paths.
    bool browsable = true;
    VolumeIdentity identity;
    // The folder of the file system that the mount shows, from that file
    // system's root: "/" for a whole disk, a sub-folder for a bind mount or
    // a btrfs subvolume; empty when it cannot be told.
    std::string fileSystemRoot = "/";
    // The mounted file system's device number, shared by all its mounts; 0
    // when unknown.
    std::uint64_t device = 0;
    // A stacked file system's own folders: what its files really are lies
    // there (a FUSE pass-through's source folder, an overlay's layers), as
    // they were named when mounting. Empty for file systems that keep their
    // own files.
    std::vector<std::filesystem::path> stackedOn{};
    // Image files that keep the whole file system (a loop device's backing
    // file): every folder it shows lies inside them, at no folder of theirs.
    std::vector<std::filesystem::path> images{};
    // A share kept on another machine: its server's name resolves, and to
    // none of this machine's addresses. A share of a server not shown to be
    // elsewhere may show any folder of this machine's.
    bool onAnotherMachine = false;
    // Whether a side lying on it can be placed by the markers where the
    // table cannot: a name is looked up where the file system keeps its
    // files each time, never answered from a cache of its own, and a file
    // made at one of its folders lands in the one folder it shows there
    // (not in one branch of a union's several).
    bool placedByMarkers = false;
};

}  // namespace kelto
