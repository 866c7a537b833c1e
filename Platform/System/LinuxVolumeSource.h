#pragma once

#include "Platform/System/BlockDevices.h"
#include "SyncAutomation/VolumeSource.h"
#include "SyncModel/Support/Clock.h"

#include <sys/types.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// The mount table through libmount, UUID and label through libblkid,
// removable through sysfs, free space through statvfs.
class LinuxVolumeSource final : public VolumeSource {
public:
    struct Options {
        std::filesystem::path mountTable = "/proc/self/mountinfo";
        std::filesystem::path sysfsRoot = "/sys";
        // Reads UUID and label of a device path; BlockDevices::read when empty.
        std::function<BlockDevices::Tags(const std::string&)> probe;
        // The addresses a share's server name leads to; nothing when it
        // cannot be resolved. LinuxVolumeSource::addressesOf when empty.
        // Called on a thread of its own, never the asking one.
        std::function<std::optional<std::vector<std::string>>(std::string_view fileSystem, std::string_view host)>
            resolveHost;
        // The text of the rclone configuration a mount made by `owner` was
        // read from; nothing when there is none or it cannot be read.
        // LinuxVolumeSource::rcloneConfig when empty.
        std::function<std::optional<std::string>(std::optional<uid_t> owner)> rcloneConfig;
        // What resolved names are timed by; SystemClock::shared() when null.
        const Clock* clock = nullptr;
    };

    LinuxVolumeSource() : LinuxVolumeSource(Options{}) {}
    explicit LinuxVolumeSource(Options options);

    std::vector<MountedFileSystem> mounts() const override;
    std::optional<std::uint64_t> availableCapacity(const std::filesystem::path& path) const override;

    static bool isPseudo(std::string_view fileSystem);
    static bool isNetwork(std::string_view fileSystem);
    static bool isCaseSensitive(std::string_view fileSystem);
    // Where a network mount can be mounted again, from its source:
    // //host/share → smb://host/share, host:/path → nfs://host/path,
    // user@host:/path (sshfs) → sftp://user@host/path.
    static std::optional<Url> remountURL(std::string_view fileSystem, std::string_view source);
    // Whether a network share's server is this machine by its name alone: a
    // loopback address, its host name, an address of one of its interfaces.
    static bool isThisMachine(std::string_view host);
    // Where a share's server is, told by what its name resolves to, not by
    // the name: an ssh alias or a name the resolver maps to a loopback
    // address is this machine; a name that does not resolve, or no name at
    // all, is unknown, as is one not resolved yet on a NonWaitingThread.
    enum class Server { thisMachine, another, unknown };
    Server server(std::string_view fileSystem, std::string_view host) const;
    // The addresses of a host name as the resolver gives them, for sshfs
    // through the name ssh's configuration gives it (`ssh -G`).
    static std::optional<std::vector<std::string>> addressesOf(std::string_view fileSystem, std::string_view host);
    // Where rclone looks for its configuration, in its order, for a mount
    // made by `owner` (this process's user when unknown): $RCLONE_CONFIG,
    // $XDG_CONFIG_HOME/rclone/rclone.conf, ~/.config/rclone/rclone.conf,
    // ~/.rclone.conf, the environment only where the owner is this
    // process's user; the first that exists, read, and an empty one where
    // none does. Nothing where one cannot be read.
    static std::optional<std::string> rcloneConfig(std::optional<uid_t> owner);
    // Whether the markers can place a side lying on a file system of this
    // type where the table cannot: a name looked up in it reaches where it
    // keeps its files each time, never a cache of its own, and a file made
    // at one of its folders lands in the one folder it shows there. A
    // union's lands in one branch of several, which tells nothing of the
    // others.
    static bool placedByMarkers(std::string_view fileSystem);
    // A stable UUID for a local volume whose file system has none.
    static std::string nameBasedUuid(std::string_view fileSystem, std::string_view source,
                                     std::string_view mountPoint);

private:
    // resolveHost's answers, each kept a minute: every read of the table
    // meets each share again, and a resolver waiting on the network would
    // hold up each read. A caller waits for a missing answer, except on a
    // NonWaitingThread, where a server without one is not shown to be
    // another machine until it comes.
    std::optional<std::vector<std::string>> resolved(std::string_view fileSystem, std::string_view host) const;

    // The answers and what resolves them, shared with the threads that
    // resolve: a dead name server may keep one going past this value.
    struct Resolutions;

    Options options_;
    std::shared_ptr<Resolutions> resolutions_;
};

}  // namespace kelto
