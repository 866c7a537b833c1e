#include "Platform/System/LinuxVolumeSource.h"

#include "Platform/System/MountTable.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/NonWaitingThread.h"
#include "SyncModel/Support/PathComponents.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <fstream>
#include <sstream>
#include <unistd.h>

extern char** environ;

namespace kelto {

namespace {

// Our own namespace for name-based volume UUIDs; never change it, stored
// endpoints depend on it.
constexpr uuid_t volumeNamespace = {0x5b, 0x1e, 0x7c, 0x42, 0x9a, 0x3d, 0x4f, 0x08,
                                    0xb6, 0x2e, 0x71, 0xc4, 0x0d, 0x93, 0xa5, 0x6f};

bool oneOf(std::string_view value, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), value) != names.end();
}

// Every byte but letters, digits and `kept` escaped as %XX; by default a
// URL path's own characters are kept.
std::string percentEncoded(std::string_view path, std::string_view kept = "-._~/!$&'()*+,;=:@") {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || kept.find(c) != std::string_view::npos) {
            out += c;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    return out;
}

// Where a "host:path" source's host ends: at its first colon, or past the
// brackets of an IPv6 address ("[::1]:/srv", "me@[::1]:/srv").
std::size_t hostEnd(std::string_view source) {
    const auto open = source.find('[');
    const auto close = open < source.find(':') ? source.find(']', open) : std::string_view::npos;
    return source.find(':', close == std::string_view::npos ? 0 : close);
}

// A host for a URL: an IPv6 address keeps its brackets, which the rest
// percent-encodes.
std::string hostEncoded(std::string_view host) {
    const auto open = host.rfind('@') + 1;
    if (host.substr(open).starts_with('[') && host.ends_with(']'))
        return percentEncoded(host.substr(0, open)) + std::string(host.substr(open));
    return percentEncoded(host);
}

std::string lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    return std::string(last.empty() ? path : last);
}

// A file system on a loop device keeps its files in the device's backing
// file, one on a partition of a loop device (an image with a partition
// table) in the whole device's, one on a device mapped over loop devices
// (an encrypted image) in theirs: the files that hold them, from a device's
// folder in sysfs.
void addBackingFiles(const std::filesystem::path& device, std::vector<std::filesystem::path>& files, int depth) {
    std::ifstream backing(device / "loop" / "backing_file");
    if (std::string file; std::getline(backing, file)) {
        // A file deleted since lies in no folder.
        if (file.starts_with('/') && !file.ends_with(" (deleted)")) files.emplace_back(file);
        return;
    }
    std::error_code error;
    // A partition's folder lies in its whole device's.
    if (std::filesystem::exists(device / "partition", error)) {
        if (depth < 8) addBackingFiles(device.parent_path(), files, depth + 1);
        return;
    }
    for (std::filesystem::directory_iterator under(device / "slaves", error), end; !error && under != end;
         under.increment(error)) {
        const std::filesystem::path slave = std::filesystem::canonical(under->path(), error);
        if (!error && depth < 8) addBackingFiles(slave, files, depth + 1);
        error.clear();
    }
}

// The folder a mount shows, from the root of its file system; empty when
// that folder was deleted. A network client may share one file system
// among several shares of a server and name a share's folder from wherever
// it met it first, so there the folders count from the share's own: the
// shortest one any mount of that share shows.
std::string shownFolder(const MountTable::Record& record, const std::vector<MountTable::Record>& table, bool network) {
    if (record.root.ends_with("//deleted")) return {};
    if (!network) return record.root;
    const std::vector<std::string> parts = PathComponents::of(std::filesystem::path("/") / record.root);
    std::size_t share = parts.size();
    for (const MountTable::Record& other : table) {
        if (other.source != record.source || other.device != record.device || other.root.ends_with("//deleted"))
            continue;
        const std::vector<std::string> otherParts = PathComponents::of(std::filesystem::path("/") / other.root);
        if (otherParts.size() < share && PathComponents::isPrefix(otherParts, parts)) share = otherParts.size();
    }
    std::string shown = "/";
    for (std::size_t i = std::max<std::size_t>(share, 1); i < parts.size(); ++i)
        shown += (shown.size() > 1 ? "/" : "") + parts[i];
    return shown;
}

// The host name ssh's configuration gives an alias (its "hostname" line);
// nothing when ssh cannot tell.
std::optional<std::string> sshHostName(const std::string& host) {
    if (host.empty() || host.front() == '-') return std::nullopt;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "ssh", option = "-G", name = host;
    char* argv[] = {program.data(), option.data(), name.data(), nullptr};
    pid_t pid = -1;
    const int started = ::posix_spawnp(&pid, "ssh", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string said;
    if (started == 0) {
        char buffer[4096];
        for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            said.append(buffer, static_cast<std::size_t>(got));
        }
    }
    ::close(out[0]);
    int status = 0;
    if (started != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    for (std::size_t start = 0; start < said.size();) {
        const std::size_t end = std::min(said.find('\n', start), said.size());
        const std::string_view line(said.data() + start, end - start);
        if (line.starts_with("hostname ")) return std::string(line.substr(9));
        start = end + 1;
    }
    return std::nullopt;
}

// rclone's configuration, each remote's settings by name. A remote whose
// settings cannot be read for sure (a quoted value, a name or setting given
// twice) has none; a file that cannot be read so (encrypted, a setting
// outside any remote, which rclone would lend to all) gives nothing.
using RcloneRemote = std::map<std::string, std::string, std::less<>>;
using RcloneRemotes = std::map<std::string, std::optional<RcloneRemote>, std::less<>>;

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::optional<RcloneRemotes> rcloneRemotes(std::string_view text) {
    RcloneRemotes remotes;
    std::optional<RcloneRemote>* remote = nullptr;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        if (line.starts_with("RCLONE_ENCRYPT_")) return std::nullopt;
        if (line.front() == '[') {
            const std::string name(trimmed(line.substr(1, line.size() - 1 - line.ends_with(']'))));
            if (!line.ends_with(']') || name == "DEFAULT") return std::nullopt;
            const auto [at, fresh] = remotes.try_emplace(name, RcloneRemote{});
            if (!fresh) at->second.reset();
            remote = &at->second;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || !remote) return std::nullopt;
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (*remote && (value.starts_with('"') || value.starts_with('\'') ||
                        !(*remote)->try_emplace(std::string(trimmed(line.substr(0, equals))), value).second))
            remote->reset();
    }
    return remotes;
}

// The host a server setting names: "host", "host:port", "user@host",
// "scheme://host:port/path", "[::1]:22".
std::string hostNamed(std::string_view setting) {
    if (const auto scheme = setting.find("://"); scheme != std::string_view::npos) setting.remove_prefix(scheme + 3);
    setting = setting.substr(0, setting.find_first_of("/?#"));
    if (const auto user = setting.rfind('@'); user != std::string_view::npos) setting.remove_prefix(user + 1);
    if (setting.starts_with('[')) return std::string(setting.substr(0, setting.find(']') + 1));
    if (std::count(setting.begin(), setting.end(), ':') == 1) setting = setting.substr(0, setting.find(':'));
    return std::string(setting);
}

// Where an rclone remote keeps its files: in folders of this machine, on
// other machines, or where that cannot be told.
struct RcloneKeeping {
    // This machine's folders, each showing its items by the names the
    // mount shows them (a local path, an alias of one, a union's branch).
    std::vector<std::string> folders;
    bool elsewhere = false;  // some on other machines only
    bool unknown = false;    // some where no one can say
};

// A remote's path joined to the path a wrapper adds below it.
std::string joined(std::string_view spec, std::string_view below) {
    if (below.empty()) return std::string(spec);
    if (spec.empty() || spec.ends_with('/') || spec.ends_with(':')) return std::string(spec) + std::string(below);
    return std::string(spec) + "/" + std::string(below);
}

// Where the rclone remote `spec` ("remote:path", ":backend:path", or a
// path) keeps its files. A path and the local backend keep them in the
// folder named, where that is named from the root (rclone resolves others
// from where it was started); a remote that wraps others keeps them where
// all it wraps do (alias, union and the rest keep folders' names, crypt and
// combine do not, so no folder of this machine is placed through them); any
// other keeps them on another machine where every server it names resolves
// only to other machines. A remote that cannot be read for sure (missing,
// looping, given settings beside its own, or by a custom ssh command) is
// unknown, as is one whose server is this machine or does not resolve.
void keeping(std::string_view spec, const RcloneRemotes& remotes, const LinuxVolumeSource& source,
             std::vector<std::string>& chain, RcloneKeeping& out) {
    const std::size_t colon = spec.find(':', spec.starts_with(':') ? 1 : 0);
    const bool isPath = colon == std::string_view::npos || spec.substr(0, colon).find('/') != std::string_view::npos;
    if (isPath) {
        if (spec.starts_with('/'))
            out.folders.emplace_back(spec);
        else
            out.unknown = true;
        return;
    }
    const std::string name(spec.substr(0, colon));
    const std::string_view below = spec.substr(colon + 1);
    if (name.empty() || name == ":" || name.find_first_of("/\\,{}\"'") != std::string::npos || chain.size() > 16 ||
        std::find(chain.begin(), chain.end(), name) != chain.end()) {
        out.unknown = true;
        return;
    }
    RcloneRemote remote{{"type", name.substr(1)}};
    if (name.front() != ':') {
        const auto found = remotes.find(name);
        if (found == remotes.end() || !found->second) {
            out.unknown = true;
            return;
        }
        remote = *found->second;
    }
    const auto setting = [&](std::string_view key) {
        const auto found = remote.find(key);
        return found == remote.end() ? nullptr : &found->second;
    };
    const std::string* type = setting("type");
    if (!type) {
        out.unknown = true;
        return;
    }
    if (*type == "local") {
        if (below.starts_with('/'))
            out.folders.emplace_back(below);
        else
            out.unknown = true;
        return;
    }
    // Kept in the mounting program's own memory: that mount alone shows
    // them, and no other mount of the same name is the same files.
    if (*type == "memory") return;
    std::vector<std::string> wrapped;
    if (const std::string* inner = setting("remote")) wrapped.push_back(joined(*inner, below));
    if (const std::string* upstreams = setting("upstreams")) {
        std::istringstream words(*upstreams);
        for (std::string word; words >> word;) {
            if (*type == "combine") {
                // "folder=remote:path"
                const std::size_t equals = word.find('=');
                wrapped.push_back(equals == std::string::npos ? std::string() : word.substr(equals + 1));
                continue;
            }
            // A union's branch may end in how it is used: ":ro", ":nc", ":writeback".
            for (const char* use : {":ro", ":nc", ":writeback"})
                if (*type == "union" && word.ends_with(use)) word.resize(word.size() - std::strlen(use));
            wrapped.push_back(joined(word, below));
        }
    }
    if (wrapped.empty()) {
        if (oneOf(*type, {"alias", "crypt", "union", "combine", "chunker", "compress", "hasher", "cache"}) ||
            setting("ssh")) {
            out.unknown = true;
            return;
        }
        // A server it names, wherever its name leads.
        for (const char* key : {"host", "url", "endpoint"})
            if (const std::string* at = setting(key);
                at && source.server("fuse.rclone", hostNamed(*at)) != LinuxVolumeSource::Server::another) {
                out.unknown = true;
                return;
            }
        out.elsewhere = true;
        return;
    }
    chain.push_back(name);
    RcloneKeeping inner;
    for (const std::string& each : wrapped) keeping(each, remotes, source, chain, inner);
    chain.pop_back();
    // Names made anew (crypt's, combine's folders of its own) place no
    // folder of this machine.
    if (!inner.folders.empty() && (*type == "crypt" || *type == "combine")) {
        inner.folders.clear();
        inner.unknown = true;
    }
    out.folders.insert(out.folders.end(), inner.folders.begin(), inner.folders.end());
    out.elsewhere = out.elsewhere || inner.elsewhere;
    out.unknown = out.unknown || inner.unknown;
}

// The URL an rclone mount is found again by: its remote as the host (all
// but the unreserved characters escaped, so that no colon or "@" of the
// remote's name reads as a port or a user), its path as the path.
std::optional<Url> rcloneURL(std::string_view spec) {
    const std::size_t colon = spec.find(':', spec.starts_with(':') ? 1 : 0);
    if (colon == std::string_view::npos || spec.substr(0, colon).find('/') != std::string_view::npos) return std::nullopt;
    const std::string host = percentEncoded(spec.substr(0, colon), "-._~");
    std::string path(spec.substr(colon + 1));
    if (!path.starts_with('/')) path.insert(0, "/");
    return Url::parse("rclone://" + host + percentEncoded(path));
}

// An rclone mount as the configuration its owner keeps tells of it.
struct RcloneMount {
    RcloneKeeping kept;  // all unknown where the configuration cannot be read
    std::optional<Url> url;
};

RcloneMount rcloneMount(std::string_view spec, const std::optional<std::string>& config,
                        const LinuxVolumeSource& source) {
    const std::optional<RcloneRemotes> remotes = config ? rcloneRemotes(*config) : std::nullopt;
    RcloneMount mount;
    std::vector<std::string> chain;
    if (remotes)
        keeping(spec, *remotes, source, chain, mount.kept);
    else
        mount.kept.unknown = true;
    // An alias is the remote it names: one folder of a remote, mounted
    // through an alias or not, lies on one server at one path.
    std::string named(spec);
    for (int depth = 0; remotes && depth < 16; ++depth) {
        const std::size_t colon = named.find(':', named.starts_with(':') ? 1 : 0);
        if (colon == std::string::npos) break;
        const auto found = remotes->find(std::string_view(named).substr(0, colon));
        if (found == remotes->end() || !found->second) break;
        const auto type = found->second->find("type"), inner = found->second->find("remote");
        if (type == found->second->end() || type->second != "alias" || inner == found->second->end()) break;
        named = joined(inner->second, std::string_view(named).substr(colon + 1));
    }
    mount.url = rcloneURL(named);
    return mount;
}

}  // namespace

struct LinuxVolumeSource::Resolutions {
    struct Answer {
        double at = 0;  // when it was asked for
        bool known = false, pending = false;
        std::optional<std::vector<std::string>> addresses;
    };

    std::function<std::optional<std::vector<std::string>>(std::string_view, std::string_view)> resolveHost;
    std::mutex lock;
    std::condition_variable answered;
    std::map<std::pair<std::string, std::string>, Answer> answers;
};

LinuxVolumeSource::LinuxVolumeSource(Options options)
    : options_(std::move(options)), resolutions_(std::make_shared<Resolutions>()) {
    if (!options_.probe) options_.probe = BlockDevices::read;
    if (!options_.resolveHost) options_.resolveHost = addressesOf;
    if (!options_.rcloneConfig) options_.rcloneConfig = rcloneConfig;
    if (!options_.clock) options_.clock = &SystemClock::shared();
    resolutions_->resolveHost = options_.resolveHost;
}

bool LinuxVolumeSource::isPseudo(std::string_view fs) {
    return oneOf(fs, {"proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs", "tracefs", "debugfs",
                      "securityfs", "pstore", "bpf", "mqueue", "hugetlbfs", "configfs", "fusectl", "binfmt_misc",
                      "autofs", "rpc_pipefs", "nsfs", "efivarfs", "selinuxfs", "nfsd", "ramfs"});
}

bool LinuxVolumeSource::isNetwork(std::string_view fs) { return FileSystemCapabilities::forType(fs).network; }

bool LinuxVolumeSource::isCaseSensitive(std::string_view fs) { return !FileSystemCapabilities::forType(fs).foldsCase; }

std::optional<Url> LinuxVolumeSource::remountURL(std::string_view fs, std::string_view source) {
    if (source.rfind("//", 0) == 0) {
        const std::string_view rest = source.substr(2);
        const auto slash = rest.find('/');
        const std::string_view host = rest.substr(0, slash);
        const std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
        if (host.empty()) return std::nullopt;
        return Url::parse("smb://" + percentEncoded(host) + percentEncoded(path));
    }
    const auto colon = hostEnd(source);
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    std::string_view host = source.substr(0, colon);
    std::string path(source.substr(colon + 1));
    // An IPv6 host is written in brackets already; a bare one is not a URL host.
    if (host.find('/') != std::string_view::npos) return std::nullopt;
    const bool ssh = fs == "fuse.sshfs" || fs == "sshfs";
    if (!ssh && fs.rfind("nfs", 0) != 0) return std::nullopt;
    if (path.empty() || path.front() != '/') path.insert(0, "/");
    return Url::parse(std::string(ssh ? "sftp://" : "nfs://") + hostEncoded(host) + percentEncoded(path));
}

bool LinuxVolumeSource::isThisMachine(std::string_view host) {
    std::string name(host);
    if (name.size() > 1 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    while (name.ends_with('.')) name.pop_back();
    // One address, however written: an IPv6 one without the interface it is
    // reached through, in its shortest form, an IPv4 one within it as
    // itself.
    if (name.find(':') != std::string::npos) {
        name = name.substr(0, name.find('%'));
        in6_addr v6{};
        std::array<char, INET6_ADDRSTRLEN> text{};
        if (::inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
            const bool v4 = IN6_IS_ADDR_V4MAPPED(&v6);
            if (v4 ? ::inet_ntop(AF_INET, &v6.s6_addr[12], text.data(), text.size())
                   : ::inet_ntop(AF_INET6, &v6, text.data(), text.size()))
                name = text.data();
        }
    }
    if (name == "localhost" || name.ends_with(".localhost") || name.starts_with("127.") || name == "::1" ||
        name == "0.0.0.0" || name == "::")
        return true;
    std::array<char, 256> own{};
    if (::gethostname(own.data(), own.size() - 1) == 0) {
        std::string mine(own.data());
        for (char& c : mine) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (name == mine || name == mine.substr(0, mine.find('.')) || mine == name.substr(0, name.find('.')))
            return true;
    }
    ifaddrs* addresses = nullptr;
    if (::getifaddrs(&addresses) != 0) return false;
    bool found = false;
    for (const ifaddrs* at = addresses; at && !found; at = at->ifa_next) {
        if (!at->ifa_addr) continue;
        std::array<char, INET6_ADDRSTRLEN> text{};
        const int family = at->ifa_addr->sa_family;
        const void* raw = family == AF_INET    ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr)
                          : family == AF_INET6 ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(at->ifa_addr)->sin6_addr)
                                               : nullptr;
        found = raw && ::inet_ntop(family, raw, text.data(), text.size()) && name == text.data();
    }
    ::freeifaddrs(addresses);
    return found;
}

std::optional<std::vector<std::string>> LinuxVolumeSource::addressesOf(std::string_view fs, std::string_view host) {
    std::string name(host);
    if (name.size() > 1 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    if (fs == "fuse.sshfs" || fs == "sshfs") {
        std::optional<std::string> configured = sshHostName(name);
        if (!configured) return std::nullopt;
        name = std::move(*configured);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (name.empty() || ::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
    std::vector<std::string> addresses;
    for (const addrinfo* at = found; at; at = at->ai_next) {
        std::array<char, NI_MAXHOST> text{};
        if (::getnameinfo(at->ai_addr, at->ai_addrlen, text.data(), text.size(), nullptr, 0, NI_NUMERICHOST) == 0)
            addresses.emplace_back(text.data());
    }
    ::freeaddrinfo(found);
    return addresses;
}

LinuxVolumeSource::Server LinuxVolumeSource::server(std::string_view fs, std::string_view host) const {
    if (host.empty()) return Server::unknown;
    if (isThisMachine(host)) return Server::thisMachine;
    const std::optional<std::vector<std::string>> addresses = resolved(fs, host);
    if (!addresses || addresses->empty()) return Server::unknown;
    for (const std::string& address : *addresses)
        if (isThisMachine(address)) return Server::thisMachine;
    return Server::another;
}

std::optional<std::vector<std::string>> LinuxVolumeSource::resolved(std::string_view fs, std::string_view host) const {
    const double now = options_.clock->monotonicSeconds();
    const std::shared_ptr<Resolutions> shared = resolutions_;
    std::pair<std::string, std::string> key{fs, host};
    std::unique_lock guard(shared->lock);
    Resolutions::Answer& answer = shared->answers[key];
    if (answer.known && now - answer.at < 60) return answer.addresses;
    if (!answer.pending) {
        answer.pending = true;
        try {
            // Detached: nothing waits for a name server that never answers.
            std::thread([shared, key, now] {
                std::optional<std::vector<std::string>> addresses;
                try {
                    addresses = shared->resolveHost(key.first, key.second);
                } catch (...) {
                    addresses.reset();  // not resolved: not shown to be elsewhere
                }
                const std::lock_guard done(shared->lock);
                shared->answers[key] = {now, true, false, std::move(addresses)};
                shared->answered.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            answer.pending = false;
            return std::nullopt;
        }
    }
    if (NonWaitingThread::isCurrent()) return std::nullopt;
    shared->answered.wait(guard, [&answer] { return !answer.pending; });
    return answer.addresses;
}

std::optional<std::string> LinuxVolumeSource::rcloneConfig(std::optional<uid_t> owner) {
    namespace fs = std::filesystem;
    const bool ours = !owner || *owner == ::geteuid();
    const auto variable = [ours](const char* name) -> std::optional<std::string> {
        const char* value = ours ? std::getenv(name) : nullptr;
        return value && *value ? std::optional<std::string>(value) : std::nullopt;
    };
    std::vector<fs::path> places;
    if (std::optional<std::string> set = variable("RCLONE_CONFIG")) {
        places.emplace_back(*set);
    } else {
        std::optional<std::string> home = variable("HOME");
        if (!home) {
            passwd entry{}, *found = nullptr;
            std::array<char, 16384> buffer{};
            if (::getpwuid_r(owner.value_or(::geteuid()), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
                found->pw_dir)
                home = found->pw_dir;
        }
        if (std::optional<std::string> xdg = variable("XDG_CONFIG_HOME")) places.push_back(fs::path(*xdg) / "rclone/rclone.conf");
        if (home) {
            places.push_back(fs::path(*home) / ".config/rclone/rclone.conf");
            places.push_back(fs::path(*home) / ".rclone.conf");
        }
    }
    for (const fs::path& place : places) {
        std::error_code error;
        if (!fs::exists(place, error)) {
            if (error) return std::nullopt;
            continue;
        }
        try {
            return FileIO::readIfExists(place);
        } catch (const FileError&) {
            return std::nullopt;  // unread: no remote counts as apart
        }
    }
    // None: rclone runs with no remotes of the user's, its backends named
    // on the spot (":memory:", ":local:/x") still its own.
    if (places.empty()) return std::nullopt;
    return std::string();
}

bool LinuxVolumeSource::placedByMarkers(std::string_view fs) {
    // rclone answers from a listing of its own and passes on what is made
    // through it late; unions (overlay, mergerfs, unionfs, fuse-overlayfs)
    // show several folders.
    return FileSystemCapabilities::forType(fs).placedByMarkers;
}

std::string LinuxVolumeSource::nameBasedUuid(std::string_view fs, std::string_view source,
                                             std::string_view mountPoint) {
    std::string name;
    name.append(fs).push_back('\0');
    name.append(source).push_back('\0');
    name.append(mountPoint);
    uuid_t out;
    uuid_generate_sha1(out, volumeNamespace, name.data(), name.size());
    std::array<char, 37> text{};
    uuid_unparse_upper(out, text.data());
    return text.data();
}

std::vector<MountedFileSystem> LinuxVolumeSource::mounts() const {
    std::vector<MountedFileSystem> result;
    // A disk pulled out without unmounting can stay in the table after its
    // device is gone; no run can use it, so it counts as unmounted. Only a
    // sysfs that lists block devices can tell.
    const std::filesystem::path blockDevices = options_.sysfsRoot / "dev" / "block";
    std::error_code error;
    const bool devicesListed = std::filesystem::is_directory(blockDevices, error);
    const std::vector<MountTable::Record> table = MountTable::read(options_.mountTable);
    for (const MountTable::Record& record : table) {
        if (devicesListed && record.source.rfind("/dev/", 0) == 0 && major(record.device) != 0 &&
            !std::filesystem::exists(blockDevices / (std::to_string(major(record.device)) + ":" + std::to_string(minor(record.device))),
                        error))
            continue;
        // An rclone mount is a pass-through of this machine's folders where
        // its remote keeps every file in them, else a share: of another
        // machine, or of one no one can name.
        std::optional<RcloneMount> rclone;
        if (record.fileSystem == "fuse.rclone")
            rclone = rcloneMount(record.source, options_.rcloneConfig(record.owner), *this);
        const bool network = rclone ? rclone->kept.elsewhere || rclone->kept.unknown : isNetwork(record.fileSystem);
        MountedFileSystem mounted;
        mounted.mountPoint = record.mountPoint;
        mounted.browsable = !isPseudo(record.fileSystem);
        mounted.fileSystemRoot = shownFolder(record, table, network);
        mounted.device = record.device;
        mounted.stackedOn.assign(record.stackedOn.begin(), record.stackedOn.end());
        mounted.placedByMarkers = placedByMarkers(record.fileSystem);
        // A FUSE file system keeps its files wherever its program chose: its
        // source, as named, is all the table tells of that (a pass-through's
        // folder, a union's branches "a:b", an image). A source that names
        // no folder ("fuse-overlayfs", "squashfuse", a name of the user's)
        // or one named relative to where it was mounted from cannot be
        // placed, which refuses the trees that reach it rather than pass.
        if (rclone) {
            std::erase(mounted.stackedOn, std::filesystem::path(record.source));
            mounted.stackedOn.insert(mounted.stackedOn.end(), rclone->kept.folders.begin(), rclone->kept.folders.end());
        } else if ((record.fileSystem == "fuse" || record.fileSystem.starts_with("fuse.")) && !network) {
            std::erase(mounted.stackedOn, std::filesystem::path(record.source));
            for (std::size_t start = 0; start <= record.source.size();) {
                const std::size_t end = std::min(record.source.find(':', start), record.source.size());
                if (end > start) mounted.stackedOn.emplace_back(record.source.substr(start, end - start));
                start = end + 1;
            }
            if (mounted.stackedOn.empty()) mounted.stackedOn.emplace_back(record.source);
        }
        if (record.source.rfind("/dev/", 0) == 0) {
            // The device's folder by number, or by name where the file system
            // is numbered apart from its device (btrfs).
            std::filesystem::path device =
                blockDevices / (std::to_string(major(record.device)) + ":" + std::to_string(minor(record.device)));
            if (major(record.device) == 0) {
                const std::filesystem::path named = std::filesystem::canonical(record.source, error);
                device = options_.sysfsRoot / "class" / "block" /
                         (error ? std::filesystem::path(record.source) : named).filename();
            }
            device = std::filesystem::canonical(device, error);
            if (!error) addBackingFiles(device, mounted.images, 0);
            error.clear();
        }
        VolumeIdentity& identity = mounted.identity;
        identity.fileSystem = record.fileSystem;
        identity.isReadOnly = record.readOnly;
        identity.caseSensitive = isCaseSensitive(record.fileSystem);
        if (network) {
            identity.kind = VolumeKind::network;
            identity.remountURL = rclone ? rclone->url : remountURL(record.fileSystem, record.source);
            // The share's own name, so a share mounted elsewhere is still itself.
            const auto colon = rclone ? record.source.find(':', record.source.starts_with(':') ? 1 : 0)
                                      : hostEnd(record.source);
            const std::string remotePath = record.source.rfind("//", 0) == 0 || colon == std::string::npos
                                               ? record.source
                                               : record.source.substr(colon + 1);
            identity.name = lastComponent(remotePath);
            if (identity.name.empty() || identity.name == "/") identity.name = lastComponent(record.mountPoint);
            // A share this machine serves keeps its files in its own folders,
            // whatever listing its client caches: it is stacked on the
            // folder it is exported from. A share's name or a path from the
            // user's home cannot be placed, which refuses the trees that
            // reach it. The server is told by where its name leads (an ssh
            // alias of this machine is this machine); one whose name leads
            // nowhere, or an rclone remote that rclone's configuration does
            // not show keeping its files elsewhere, may be this machine too.
            Server at = Server::unknown;
            if (rclone) {
                if (!rclone->kept.unknown) at = Server::another;
            } else if (identity.remountURL) {
                at = server(record.fileSystem, identity.remountURL->host());
            }
            mounted.onAnotherMachine = at == Server::another;
            if (at == Server::thisMachine) {
                const bool smb = record.source.rfind("//", 0) == 0;
                const std::string exported = smb ? record.source.substr(record.source.find('/', 2) + 1) : remotePath;
                mounted.stackedOn = {std::filesystem::path(smb && exported.starts_with('/') ? exported.substr(1) : exported)};
            }
        } else {
            BlockDevices::Tags tags;
            if (mounted.browsable && record.source.rfind("/dev/", 0) == 0) tags = options_.probe(record.source);
            identity.kind = mounted.browsable && BlockDevices::isRemovable(options_.sysfsRoot, record.device)
                                ? VolumeKind::removable
                                : VolumeKind::internal;
            // A made-up identity only for what never leaves the machine: two
            // sticks of one kind at one device and mount point would share it.
            if (tags.uuid)
                identity.uuid = tags.uuid;
            else if (identity.kind == VolumeKind::internal)
                identity.uuid = nameBasedUuid(record.fileSystem, record.source, record.mountPoint);
            identity.name = tags.label ? *tags.label : lastComponent(record.mountPoint);
        }
        result.push_back(std::move(mounted));
    }
    return result;
}

std::optional<std::uint64_t> LinuxVolumeSource::availableCapacity(const std::filesystem::path& path) const {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace kelto
