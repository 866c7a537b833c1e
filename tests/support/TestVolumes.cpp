#include "tests/support/TestVolumes.h"

#include "tests/support/LocalSshd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>
#include <vector>

extern char** environ;

namespace kelto::test {

namespace fs = std::filesystem;

namespace {

// Gives the reason in `whyNot`, and nothing.
std::nullptr_t failed(std::string& whyNot, std::string reason) {
    whyNot = std::move(reason);
    return nullptr;
}

bool isTmpfs(const fs::path& folder) {
    struct statfs info {};
    return ::statfs(folder.c_str(), &info) == 0 && info.f_type == TMPFS_MAGIC;
}

// A fresh sparse image of `size` bytes, formatted by `mkfs` followed by the image's path.
bool formattedImage(const fs::path& image, std::uintmax_t size, std::vector<std::string> mkfs) {
    std::ofstream(image).close();
    std::error_code error;
    fs::resize_file(image, size, error);
    mkfs.push_back(image.native());
    return !error && runQuietly(mkfs) == 0;
}

// Starts a program from PATH with its output as `actions` set it, which it destroys: the pid, or -1.
pid_t spawn(const std::vector<std::string>& arguments, posix_spawn_file_actions_t& actions) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// A port nothing listens on now.
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(s);
    return port;
}

}  // namespace

int runQuietly(const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const pid_t pid = spawn(arguments, actions);
    if (pid < 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::unique_ptr<TmpfsFolder> TmpfsFolder::make(std::string& whyNot) {
    std::unique_ptr<TmpfsFolder> made(new TmpfsFolder);
    if (isTmpfs("/dev/shm") && ::access("/dev/shm", W_OK) == 0) {
        made->folder_.emplace(fs::path("/dev/shm"));
        return made;
    }
    made->mountPoint_.emplace();
    const fs::path at = made->mountPoint_->path();
    if (!made->mounts_.mount({"mount", "-t", "tmpfs", "-o", "size=64m", "tmpfs", at.native()}, at))
        return failed(whyNot, "no tmpfs: /dev/shm is none and mounting one needs root");
    made->folder_.emplace(made->mountPoint_->path());
    return made;
}

std::unique_ptr<Ext4Volume> Ext4Volume::make(std::string& whyNot, const std::string& label,
                                             const std::string& uuid) {
    if (::geteuid() != 0) return failed(whyNot, "mounting an ext4 image needs root");
    std::unique_ptr<Ext4Volume> made(new Ext4Volume);
    // 256-byte inodes keep times past 2038.
    std::vector<std::string> mkfs{"mkfs.ext4", "-q", "-F", "-I", "256"};
    if (!label.empty()) mkfs.insert(mkfs.end(), {"-L", label});
    if (!uuid.empty()) mkfs.insert(mkfs.end(), {"-U", uuid});
    if (!formattedImage(made->holder_ / "ext4.img", 32 << 20, mkfs))
        return failed(whyNot, "mkfs.ext4 is missing or failed");
    if (!made->remountElsewhere()) return failed(whyNot, "mount -o loop failed (no loop device?)");
    return made;
}

bool Ext4Volume::remountElsewhere() {
    if (mounted_ && runQuietly({"umount", mountPoint_.native()}) != 0) return false;
    mountPoint_ = holder_ / ("mnt" + std::to_string(++mounts_));
    fs::create_directory(mountPoint_);
    mounted_ = runQuietly({"mount", "-o", "loop", (holder_ / "ext4.img").native(), mountPoint_.native()}) == 0;
    return mounted_;
}

Ext4Volume::~Ext4Volume() {
    if (mounted_ && runQuietly({"umount", mountPoint_.native()}) != 0) ::umount2(mountPoint_.c_str(), MNT_DETACH);
}

bool TestMounts::mount(const std::vector<std::string>& command, const fs::path& at) {
    if (::geteuid() != 0 || runQuietly(command) != 0) return false;
    mounted_.push_back(at);
    return true;
}

bool TestMounts::bind(const fs::path& folder, const fs::path& at) {
    return mount({"mount", "--bind", folder.native(), at.native()}, at);
}

bool TestMounts::tmpfs(const fs::path& at) { return mount({"mount", "-t", "tmpfs", "-o", "size=16m", "tmpfs", at.native()}, at); }

bool TestMounts::passThrough(const fs::path& folder, const fs::path& at) {
    return mount({"bindfs", folder.native(), at.native()}, at);
}

bool TestMounts::overlay(const fs::path& lower, const fs::path& upper, const fs::path& work, const fs::path& at) {
    return mount({"mount", "-t", "overlay", "overlay", "-o",
                  "lowerdir=" + lower.native() + ",upperdir=" + upper.native() + ",workdir=" + work.native(),
                  at.native()},
                 at);
}

bool TestMounts::exfat(const fs::path& image, const fs::path& at) {
    if (::geteuid() != 0 || !formattedImage(image, 64 << 20, {"mkfs.exfat"})) return false;
    const std::string device = loopDevice(image, false);
    return !device.empty() && mount({"mount.exfat-fuse", device, at.native()}, at);
}

bool TestMounts::ext4Image(const fs::path& image, const fs::path& at, bool readOnly) {
    if (::geteuid() != 0 || !formattedImage(image, 16 << 20, {"mkfs.ext4", "-q", "-F"})) return false;
    return mount({"mount", "-o", readOnly ? "loop,ro" : "loop", image.native(), at.native()}, at);
}

bool TestMounts::desktop(const fs::path& folder, const fs::path& at) {
    return mount({"unionfs", "-o", "fsname=gvfsd-fuse,subtype=gvfsd-fuse", folder.native() + "=RW", at.native()}, at);
}

std::string TestMounts::loopDevice(const fs::path& image, bool scanPartitions) {
    if (::geteuid() != 0) return {};
    const fs::path named = image.native() + ".loop";
    const std::string script = std::string("losetup ") + (scanPartitions ? "-P " : "") + "-f --show '" +
                               image.native() + "' > '" + named.native() + "'";
    if (runQuietly({"sh", "-c", script}) != 0) return {};
    std::string device;
    std::ifstream(named) >> device;
    if (!device.empty()) loopDevices_.push_back(device);
    return device;
}

std::string nameOf(MountKind kind) {
    static const char* const names[] = {"sshfs", "gvfs",  "exfat",        "bindfs", "ext4",
                                        "btrfs", "rclone", "rcloneMemory", "tmpfs"};
    return names[static_cast<int>(kind)];
}

MountedFolder::MountedFolder() = default;
MountedFolder::~MountedFolder() = default;

fs::path MountedFolder::make(MountKind kind, const fs::path& under, std::string& whyNot) {
    const fs::path real = under / "real", at = under / "mnt";
    fs::create_directories(real);
    fs::create_directories(at);
    if (kind == MountKind::sshfs) sshd_ = LocalSshd::start(under / "ssh", whyNot);
    // No rclone configuration of the user's; its daemon returns once mounted.
    const auto rclone = [&](const std::string& remote) {
        return mounts_.mount({"rclone", "mount", remote, at.native(), "--daemon", "--config", "/dev/null"}, at);
    };
    // 128 MiB: the least btrfs takes.
    const auto btrfs = [&] {
        return formattedImage(under / "disk.img", 128 << 20, {"mkfs.btrfs", "-q", "-f"}) &&
               mounts_.mount({"mount", "-o", "loop", (under / "disk.img").native(), at.native()}, at);
    };
    const bool made = kind == MountKind::sshfs         ? sshd_ && mounts_.mount(sshd_->sshfs(real, at), at)
                      : kind == MountKind::desktop     ? mounts_.desktop(real, at)
                      : kind == MountKind::exfat       ? mounts_.exfat(under / "card.img", at)
                      : kind == MountKind::passThrough ? mounts_.passThrough(real, at)
                      : kind == MountKind::ext4        ? mounts_.ext4Image(under / "disk.img", at)
                      : kind == MountKind::btrfs       ? btrfs()
                      : kind == MountKind::rclone      ? rclone(":local:" + real.native())
                      : kind == MountKind::tmpfs       ? mounts_.tmpfs(at)
                                                       : rclone(":memory:");
    if (!made) {
        whyNot = nameOf(kind) + " could not be mounted (needs root) " + whyNot;
        return {};
    }
    if (kind != MountKind::ext4 && kind != MountKind::btrfs) return at;
    fs::create_directories(at / "side");  // a disk's own root holds lost+found
    return at / "side";
}

TestMounts::~TestMounts() {
    for (auto at = mounted_.rbegin(); at != mounted_.rend(); ++at)
        if (runQuietly({"umount", at->native()}) != 0) ::umount2(at->c_str(), MNT_DETACH);
    for (const std::string& device : loopDevices_) runQuietly({"losetup", "-d", device});
}

std::unique_ptr<LocalSshd> LocalSshd::start(const fs::path& folder, std::string& whyNot, const fs::path& chroot) {
    const fs::path sshd = "/usr/sbin/sshd";
    if (::geteuid() != 0) return failed(whyNot, "needs root");
    if (!fs::exists(sshd) || !fs::exists("/usr/bin/sshfs"))
        return failed(whyNot, "sshd or sshfs missing (openssh-server, sshfs)");
    fs::create_directories(folder);
    ::mkdir("/run/sshd", 0755);  // sshd's privilege separation wants it
    for (const char* key : {"host", "user"})
        if (runQuietly({"ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", (folder / key).native()}) != 0)
            return failed(whyNot, "ssh-keygen failed");
    fs::copy_file(folder / "user.pub", folder / "authorized_keys", fs::copy_options::overwrite_existing);
    std::ofstream(folder / "sshd_config") << "ListenAddress 127.0.0.1\n"
                                          << "HostKey " << (folder / "host").native() << "\n"
                                          << "AuthorizedKeysFile " << (folder / "authorized_keys").native() << "\n"
                                          << "PermitRootLogin prohibit-password\nStrictModes no\nUsePAM no\n"
                                          << "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                          << "PidFile none\nSubsystem sftp internal-sftp\n";
    if (!chroot.empty())
        std::ofstream(folder / "sshd_config", std::ios::app) << "ChrootDirectory " << chroot.native()
                                                             << "\nForceCommand internal-sftp\n";
    std::unique_ptr<LocalSshd> server(new LocalSshd);
    server->folder_ = folder;
    server->port_ = freePort();
    int pipe[2];
    if (server->port_ == 0 || ::pipe2(pipe, O_CLOEXEC) != 0)
        return failed(whyNot, "no free port");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
    server->pid_ = spawn({sshd.native(), "-D", "-e", "-f", (folder / "sshd_config").native(), "-p",
                          std::to_string(server->port_)},
                         actions);
    ::close(pipe[1]);
    server->output_ = pipe[0];
    if (server->pid_ < 0) return failed(whyNot, "sshd could not be started");
    // Ready once it says it listens; it says why not otherwise, and ends.
    std::string said;
    char buffer[512];
    pollfd readable{server->output_, POLLIN, 0};
    while (said.find("Server listening") == std::string::npos) {
        if (::poll(&readable, 1, 10'000) <= 0) return failed(whyNot, "sshd did not start listening: " + said);
        const ssize_t got = ::read(server->output_, buffer, sizeof buffer);
        if (got <= 0) return failed(whyNot, "sshd ended: " + said);
        said.append(buffer, static_cast<std::size_t>(got));
    }
    return server;
}

LocalSshd::~LocalSshd() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
}

std::vector<std::string> LocalSshd::sshfs(const fs::path& folder, const fs::path& at) const {
    const std::string options = "IdentityFile=" + (folder_ / "user").native() +
                                ",StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null,BatchMode=yes";
    return {"sshfs", "-p", std::to_string(port_), "-o", options, "root@127.0.0.1:" + folder.native(), at.native()};
}

}  // namespace kelto::test
