#include "tests/support/TestVolumes.h"

#include "tests/support/LocalSshd.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <linux/magic.h>

#include <fstream>
#include <vector>

extern char** environ;

namespace kelto::test {

namespace fs = std::filesystem;

namespace {

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

}  // namespace

int runQuietly(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
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
    if (::mount("tmpfs", made->mountPoint_->path().c_str(), "tmpfs", 0, "size=64m") != 0) {
        whyNot = "no tmpfs: /dev/shm is none and mounting one needs root";
        made->mountPoint_.reset();
        return nullptr;
    }
    made->folder_.emplace(made->mountPoint_->path());
    return made;
}

TmpfsFolder::~TmpfsFolder() {
    folder_.reset();
    if (mountPoint_) ::umount2(mountPoint_->path().c_str(), MNT_DETACH);
}

std::unique_ptr<Ext4Volume> Ext4Volume::make(std::string& whyNot, const std::string& label,
                                             const std::string& uuid) {
    std::unique_ptr<Ext4Volume> made(new Ext4Volume);
    if (::geteuid() != 0) {
        whyNot = "mounting an ext4 image needs root";
        return nullptr;
    }
    const fs::path image = made->holder_ / "ext4.img";
    made->mountPoint_ = made->holder_ / "mnt";
    fs::create_directory(made->mountPoint_);
    // 256-byte inodes keep times past 2038.
    std::vector<std::string> mkfs{"mkfs.ext4", "-q", "-F", "-I", "256"};
    if (!label.empty()) mkfs.insert(mkfs.end(), {"-L", label});
    if (!uuid.empty()) mkfs.insert(mkfs.end(), {"-U", uuid});
    if (!formattedImage(image, 32 << 20, mkfs)) {
        whyNot = "mkfs.ext4 is missing or failed";
        return nullptr;
    }
    if (runQuietly({"mount", "-o", "loop", image.native(), made->mountPoint_.native()}) != 0) {
        whyNot = "mount -o loop failed (no loop device?)";
        return nullptr;
    }
    made->mounted_ = true;
    return made;
}

bool Ext4Volume::remountElsewhere() {
    if (!mounted_ || runQuietly({"umount", mountPoint_.native()}) != 0) return false;
    mounted_ = false;
    mountPoint_ = holder_ / ("mnt" + std::to_string(++mounts_));
    fs::create_directory(mountPoint_);
    if (runQuietly({"mount", "-o", "loop", (holder_ / "ext4.img").native(), mountPoint_.native()}) != 0) return false;
    mounted_ = true;
    return true;
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

bool TestMounts::btrfsImage(const fs::path& image, const fs::path& at) {
    // 128 MiB: the least btrfs takes.
    if (::geteuid() != 0 || !formattedImage(image, 128 << 20, {"mkfs.btrfs", "-q", "-f"})) return false;
    return mount({"mount", "-o", "loop", image.native(), at.native()}, at);
}

bool TestMounts::desktop(const fs::path& folder, const fs::path& at) {
    return mount({"unionfs", "-o", "fsname=gvfsd-fuse,subtype=gvfsd-fuse", folder.native() + "=RW", at.native()}, at);
}

bool TestMounts::rclone(const std::string& remote, const fs::path& at) {
    // No configuration of the user's; the daemon returns once mounted.
    return mount({"rclone", "mount", remote, at.native(), "--daemon", "--config", "/dev/null"}, at);
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
    const bool made = kind == MountKind::sshfs         ? sshd_ && mounts_.mount(sshd_->sshfs(real, at), at)
                      : kind == MountKind::desktop     ? mounts_.desktop(real, at)
                      : kind == MountKind::exfat       ? mounts_.exfat(under / "card.img", at)
                      : kind == MountKind::passThrough ? mounts_.passThrough(real, at)
                      : kind == MountKind::ext4        ? mounts_.ext4Image(under / "disk.img", at)
                      : kind == MountKind::btrfs       ? mounts_.btrfsImage(under / "disk.img", at)
                      : kind == MountKind::rclone      ? mounts_.rclone(":local:" + real.native(), at)
                      : kind == MountKind::tmpfs       ? mounts_.tmpfs(at)
                                                       : mounts_.rclone(":memory:", at);
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

}  // namespace kelto::test
