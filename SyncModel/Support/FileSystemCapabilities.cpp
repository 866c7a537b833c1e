#include "SyncModel/Support/FileSystemCapabilities.h"

#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/PathComponents.h"
#include "SyncModel/Support/Unicode.h"

#include <fcntl.h>
#include <libmount/libmount.h>
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

namespace kelto {

namespace {

using Links = FileSystemCapabilities::HardLinks;
constexpr std::int64_t nanosecond = 1, hundredNanoseconds = 100, tenMilliseconds = 10'000'000,
                       second = 1'000'000'000, twoSeconds = 2'000'000'000;
constexpr std::int64_t fatMaxFileSize = 4294967295;

// One row of the table. Columns: numbers last, hard links, kernel-stamped
// status change, time resolution, folds case, folds Unicode, extended
// attributes, permissions, network, placed by markers; the statfs magic
// where one is the type's alone; the largest file; the names it holds;
// writes anywhere in a file once begun.
struct Row {
    std::string_view type;
    bool numbersLast;
    Links links;
    bool kernelStamps;
    std::int64_t resolution;
    bool foldsCase, foldsUnicode, xattrs, permissions, network, markers;
    std::int64_t magic = 0;
    std::optional<std::int64_t> maxFileSize = std::nullopt;
    FileSystemCapabilities::Names names = FileSystemCapabilities::Names::any;
    bool writesAnywhere = true;
};

constexpr bool y = true, n = false;
constexpr Links one = Links::oneNumber, afresh = Links::numberedAfresh, none = Links::none;
constexpr std::optional<std::int64_t> noLimit = std::nullopt;
using enum FileSystemCapabilities::Names;

// Local disks whose kernel driver stamps every change from this machine's
// clock; then those whose times come from elsewhere (another system, a
// server, a FUSE program), which the rules may read only as the disk keeps them.
const std::array rows{
    Row{"ext4", y, one, y, nanosecond, n, n, y, y, n, n, 0xEF53},
    Row{"ext3", y, one, y, nanosecond, n, n, y, y, n, n},
    Row{"ext2", y, one, y, nanosecond, n, n, y, y, n, n},
    Row{"xfs", y, one, y, nanosecond, n, n, y, y, n, n, 0x58465342},
    Row{"btrfs", y, one, y, nanosecond, n, n, y, y, n, n, 0x9123683E},
    Row{"f2fs", y, one, y, nanosecond, n, n, y, y, n, n, 0xF2F52010},
    Row{"zfs", y, one, y, nanosecond, n, n, y, y, n, n, 0x2FC12FC1},
    Row{"tmpfs", y, one, y, nanosecond, n, n, n, y, n, n, 0x01021994},
    Row{"bcachefs", y, one, y, nanosecond, n, n, n, n, n, n, 0xCA451A4E},
    Row{"jfs", y, one, y, nanosecond, n, n, n, n, n, n, 0x3153464A},
    Row{"reiserfs", y, one, y, second, n, n, n, n, n, n, 0x52654973},
    Row{"overlay", y, one, y, nanosecond, n, n, n, n, n, n, 0x794C7630},
    Row{"hfsplus", y, none, n, second, y, y, n, n, n, n, 0x482B, noLimit, unicode},
    Row{"ntfs3", y, one, n, hundredNanoseconds, y, n, n, n, n, n, 0x7366746E, noLimit, windowsAndDevices},
    Row{"ntfs", n, none, n, hundredNanoseconds, y, n, n, n, n, n, 0, noLimit, windowsAndDevices},
    Row{"vfat", n, none, n, twoSeconds, y, n, n, n, n, n, 0x4D44, fatMaxFileSize, windows},
    Row{"msdos", n, none, n, twoSeconds, y, n, n, n, n, n, 0, fatMaxFileSize, windows},
    Row{"fat", n, none, n, twoSeconds, y, n, n, n, n, n, 0, fatMaxFileSize, windows},
    Row{"exfat", n, none, n, tenMilliseconds, y, n, n, n, n, n, 0x2011BAB0, noLimit, windows},
    // exFAT and NTFS through FUSE (exfat-fuse refuses links, ntfs-3g makes
    // them). exfat-fuse holds Windows' device names; ntfs-3g under
    // windows_names does not, and rsync then names each it fails on.
    Row{"fuseblk", n, afresh, n, twoSeconds, y, n, n, n, n, n, 0, noLimit, windows},
    Row{"fuse.exfat", n, none, n, twoSeconds, y, n, n, n, n, n, 0, noLimit, windows},
    // The kernel's network clients: the server's numbers and clock.
    Row{"nfs", y, one, n, nanosecond, n, n, n, n, y, y, 0x6969},
    Row{"nfs4", y, one, n, nanosecond, n, n, n, n, y, y},
    Row{"cifs", n, afresh, n, hundredNanoseconds, y, n, n, n, y, y, 0xFF534D42},
    Row{"smb3", n, afresh, n, hundredNanoseconds, y, n, n, n, y, y, 0xFE534D42},
    Row{"smbfs", n, afresh, n, hundredNanoseconds, y, n, n, n, y, y},
    Row{"9p", n, none, n, second, n, n, n, n, y, n},
    Row{"afs", n, none, n, second, n, n, n, n, y, n},
    Row{"ceph", n, none, n, second, n, n, n, n, y, n},
    Row{"glusterfs", n, none, n, second, n, n, n, n, y, n},
    Row{"davfs", n, none, n, second, n, n, n, n, y, n},
    // FUSE programs, by the subtype they name. sshfs links on the server,
    // each name numbered afresh; the desktop's gvfs and rclone keep no
    // links. One that names none (bindfs) shows as plain "fuse": unknown.
    // No marker places an rclone mount: its listings, cached for minutes,
    // hide a name made behind it, and what is made through it reaches its
    // remote only once closed (or written back later), so its remote, read
    // from rclone's configuration, must; it lists no extended attributes
    // (an I/O error for every file). Neither takes a write out of order
    // without a cache of its own, which the mount table does not show.
    Row{"fuse.sshfs", n, afresh, n, second, n, n, n, n, y, y},
    Row{"sshfs", n, afresh, n, second, n, n, n, n, y, y},
    Row{"fuse.gvfsd-fuse", n, none, n, second, n, n, n, n, n, y, 0, noLimit, any, n},
    Row{"fuse.rclone", n, none, n, second, n, n, n, n, y, n, 0, noLimit, any, n},
    Row{"fuse.glusterfs", n, none, n, second, n, n, n, n, y, n},
    Row{"fuse.davfs2", n, none, n, second, n, n, n, n, y, n},
    // Names stored volume identities may carry from the other platform.
    Row{"apfs", y, one, n, nanosecond, n, n, y, y, n, n},
    Row{"hfs", y, none, n, second, n, n, y, y, n, n},
};

constexpr std::int64_t fuseMagic = 0x65735546;

FileSystemCapabilities fromRow(const Row& row) {
    FileSystemCapabilities c;
    c.type = std::string(row.type);
    c.known = true;
    c.fileNumbersLast = row.numbersLast;
    c.hardLinks = row.links;
    c.kernelStampsChange = row.kernelStamps;
    c.timeResolution = row.resolution;
    c.foldsCase = row.foldsCase;
    c.foldsUnicode = row.foldsUnicode;
    c.extendedAttributes = row.xattrs;
    c.permissions = row.permissions;
    c.maxFileSize = row.maxFileSize;
    c.network = row.network;
    c.placedByMarkers = row.markers;
    c.names = row.names;
    c.writesAnywhere = row.writesAnywhere;
    return c;
}

// Windows' device names, alone or before a dot, in any case.
bool isDeviceName(std::string_view name) {
    std::string base(name.substr(0, name.find('.')));
    for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '1' && base[3] <= '9';
}

// The type the mount table gives the mount of this device, the last one
// mounted there first; empty where it cannot be read.
std::string mountedType(dev_t device) {
    const std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> table(
        mnt_new_table_from_file("/proc/self/mountinfo"), mnt_unref_table);
    if (!table) return {};
    libmnt_fs* found = mnt_table_find_devno(table.get(), device, MNT_ITER_BACKWARD);
    const char* type = found ? mnt_fs_get_fstype(found) : nullptr;
    return type ? type : std::string();
}

}  // namespace

bool FileSystemCapabilities::holds(Names rule, std::string_view name) {
    if (rule == Names::any) return true;
    // Such a disk keeps UTF-16; bytes that are no UTF-8 have no such form.
    if (!Unicode::isValidUtf8(name)) return false;
    if (rule == Names::unicode) return true;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view(R"("*:<>?\|)").find(c) != std::string_view::npos)
            return false;
    if (name.ends_with('.') || name.ends_with(' ')) return false;
    return rule != Names::windowsAndDevices || !isDeviceName(name);
}

FileSystemCapabilities FileSystemCapabilities::forType(std::string_view type) {
    std::string name(type);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Row& row : rows)
        if (row.type == name) return fromRow(row);
    // A block device through FUSE, its program named after the dot.
    if (name.starts_with("fuseblk.")) {
        FileSystemCapabilities c = forType("fuseblk");
        c.type = name;
        return c;
    }
    FileSystemCapabilities least;
    least.type = name;
    return least;
}

FileSystemCapabilities FileSystemCapabilities::forMagic(std::optional<std::int64_t> magic) {
    if (magic)
        for (const Row& row : rows)
            if (row.magic != 0 && row.magic == *magic) return fromRow(row);
    return {};
}

FileSystemCapabilities FileSystemCapabilities::ofOpen(int descriptor) {
    struct statfs system {};
    if (::fstatfs(descriptor, &system) != 0) return {};
    const auto magic = static_cast<std::int64_t>(static_cast<std::uint32_t>(system.f_type));
    if (magic != fuseMagic) return forMagic(magic);
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) return {};
    const std::string type = mountedType(info.st_dev);
    return type.empty() ? FileSystemCapabilities{} : forType(type);
}

std::vector<FileSystemCapabilities> FileSystemCapabilities::reachedFrom(const std::filesystem::path& folder) {
    const FileDescriptor opened(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.valid()) return {FileSystemCapabilities{}};
    std::vector<FileSystemCapabilities> reached{ofOpen(opened.get())};
    const std::optional<std::vector<Mounted>> below = mountedBelow(folder);
    if (!below) {
        reached.emplace_back();
        return reached;
    }
    for (const Mounted& mounted : *below) reached.push_back(mounted.disk);
    return reached;
}

std::optional<std::vector<FileSystemCapabilities::Mounted>> FileSystemCapabilities::mountedBelow(
    const std::filesystem::path& folder) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(folder, error);
    if (error) return std::nullopt;
    const std::unique_ptr<libmnt_table, decltype(&mnt_unref_table)> table(
        mnt_new_table_from_file("/proc/self/mountinfo"), mnt_unref_table);
    const std::unique_ptr<libmnt_iter, decltype(&mnt_free_iter)> iter(mnt_new_iter(MNT_ITER_FORWARD), mnt_free_iter);
    if (!table || !iter) return std::nullopt;
    const std::vector<std::string> top = PathComponents::of(real);
    std::vector<Mounted> below;
    libmnt_fs* fs = nullptr;
    while (mnt_table_next_fs(table.get(), iter.get(), &fs) == 0) {
        const char* target = mnt_fs_get_target(fs);
        const char* type = mnt_fs_get_fstype(fs);
        if (!target) continue;
        const std::vector<std::string> at = PathComponents::of(target);
        if (at.size() <= top.size() || !PathComponents::isPrefix(top, at)) continue;
        std::string relative;
        for (std::size_t i = top.size(); i < at.size(); ++i) relative += (relative.empty() ? "" : "/") + at[i];
        below.push_back({std::move(relative), forType(type ? type : "")});
    }
    return below;
}

}  // namespace kelto
