#include "SyncEngine/internal/EndpointCheck.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace kelto {

namespace fs = std::filesystem;

namespace {

bool isInside(const std::string& inner, const std::string& outer) {
    return inner.starts_with(outer.ends_with('/') ? outer : outer + "/");
}

// Whether the folder `outer` is `inner` or one of its ancestors, compared as
// items rather than paths.
bool liesWithin(fs::path inner, const struct stat& outer) {
    for (;;) {
        struct stat info {};
        if (::stat(inner.c_str(), &info) == 0 && info.st_dev == outer.st_dev && info.st_ino == outer.st_ino)
            return true;
        if (inner == inner.root_path() || inner.empty()) return false;
        inner = inner.parent_path();
    }
}

// Whether something other than a real folder stands at the root's reserved
// name. What cannot be looked at is left for rsync to fail on.
bool reservedIsNoFolder(const fs::path& root) {
    try {
        const std::optional<SafeFileSystem::Folder> folder = SafeFileSystem::openRoot(root);
        if (!folder) return false;
        const std::optional<struct stat> info =
            SafeFileSystem::statChild(*folder, std::string(ArchiveDirectories::reservedName));
        return info && !S_ISDIR(info->st_mode);
    } catch (const FileError&) {
        return false;
    }
}

}  // namespace

std::optional<EndpointCheck::Fault> EndpointCheck::firstFault(const fs::path& a, const fs::path& b,
                                                             const TreeOverlap& treesOverlap) {
    for (const fs::path* folder : {&a, &b}) {
        std::error_code error;
        if (!fs::is_directory(*folder, error)) return Fault{Fault::Case::missing, *folder};
    }
    std::error_code error;
    const fs::path pa = fs::canonical(a, error);
    if (error) return Fault{Fault::Case::missing, a};
    const fs::path pb = fs::canonical(b, error);
    if (error) return Fault{Fault::Case::missing, b};
    if (pa == pb || isInside(pa.native(), pb.native()) || isInside(pb.native(), pa.native()))
        return Fault{Fault::Case::nested, {}};

    // The same folder can also sit at two paths (a bind mount), which no
    // resolving of links shows.
    struct stat infoA {}, infoB {};
    if (::stat(pa.c_str(), &infoA) == 0 && ::stat(pb.c_str(), &infoB) == 0 &&
        (liesWithin(pa, infoB) || liesWithin(pb, infoA)))
        return Fault{Fault::Case::nested, {}};
    // Nor a mount below one side that shows the other, or a stacked file
    // system over it: only the mount table tells.
    if (treesOverlap.throughMounts(pa, pb)) return Fault{Fault::Case::nested, {}};

    for (const fs::path* folder : {&a, &b})
        if (reservedIsNoFolder(*folder))
            return Fault{Fault::Case::reservedNotFolder, *folder / ArchiveDirectories::reservedName};
    return std::nullopt;
}

std::optional<EndpointCheck::Fault> EndpointCheck::replaced(const fs::path& a, const fs::path& b,
                                                           const std::optional<FolderIdentity>& plannedA,
                                                           const std::optional<FolderIdentity>& plannedB) {
    std::variant<Held, Fault> held = hold(a, b, plannedA, plannedB);
    if (const Fault* fault = std::get_if<Fault>(&held)) return *fault;
    return std::nullopt;
}

std::variant<EndpointCheck::Held, EndpointCheck::Fault> EndpointCheck::hold(
    const fs::path& a, const fs::path& b, const std::optional<FolderIdentity>& plannedA,
    const std::optional<FolderIdentity>& plannedB) {
    Held held;
    for (const Side side : {Side::a, Side::b}) {
        const fs::path& folder = side == Side::a ? a : b;
        const std::optional<FolderIdentity>& planned = side == Side::a ? plannedA : plannedB;
        // Links followed, as rsync follows them.
        FileDescriptor opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!planned || !opened.valid() || FolderIdentity::ofOpen(opened.get()) != planned)
            return Fault{Fault::Case::replaced, folder, side};
        // Its own /proc entry, which a PID namespace whose /proc is not its own
        // would number otherwise.
        const fs::path through = SafeFileSystem::throughDescriptor(opened.get());
        (side == Side::a ? held.pathA_ : held.pathB_) = through;
        (side == Side::a ? held.a_ : held.b_) = std::move(opened);
    }
    return held;
}

bool EndpointCheck::Held::covered(Side side) const {
    std::error_code error;
    const fs::path at = fs::read_symlink(path(side), error);
    struct stat held {}, now {};
    return error || ::fstat(descriptor(side), &held) != 0 || ::stat(at.c_str(), &now) != 0 ||
           held.st_dev != now.st_dev || held.st_ino != now.st_ino;
}

}  // namespace kelto
