#pragma once

#include "Platform/System/BlockDevices.h"
#include "SyncAutomation/VolumeSource.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
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
        std::function<std::optional<std::vector<std::string>>(std::string_view fileSystem, std::string_view host)>
            resolveHost;
        // The time servers' names were resolved at; steady_clock's when empty.
        std::function<std::chrono::steady_clock::time_point()> now;
    };

    // How long what a server's name resolved to is taken as it was: a run,
    // or a window, reads the table many times within seconds, and each
    // resolution may wait on ssh and the network.
    static constexpr std::chrono::seconds resolvedFor{10};

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
    // all, is unknown.
    enum class Server { thisMachine, another, unknown };
    Server server(std::string_view fileSystem, std::string_view host) const;
    // The addresses of a host name as the resolver gives them, for sshfs
    // through the name ssh's configuration gives it (`ssh -G`).
    static std::optional<std::vector<std::string>> addressesOf(std::string_view fileSystem, std::string_view host);
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
    struct Resolved {
        std::mutex mutex;
        std::map<std::pair<std::string, std::string>, std::pair<Server, std::chrono::steady_clock::time_point>, std::less<>>
            servers;  // by file system and name
    };

    Options options_;
    std::shared_ptr<Resolved> resolved_ = std::make_shared<Resolved>();
};

}  // namespace kelto
