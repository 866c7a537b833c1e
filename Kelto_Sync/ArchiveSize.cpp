#include "Kelto_Sync/ArchiveSize.h"

#include "SyncEngine/ArchiveDirectories.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace kelto {

namespace fs = std::filesystem;

namespace {

struct CloseFolder {
    void operator()(DIR* folder) const { ::closedir(folder); }
};
using OpenFolder = std::unique_ptr<DIR, CloseFolder>;

// Opens a folder without following a link to it; null when it cannot be.
OpenFolder openFolder(int parent, const char* name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* folder = ::fdopendir(fd);
    if (!folder) ::close(fd);
    return OpenFolder(folder);
}

// The bytes of the regular files below `top`. Anything that fails (an item
// that went away, a folder that cannot be opened or read on, a name too
// long) is left out, and the walk goes on with the rest.
std::int64_t bytesBelow(OpenFolder top, const std::stop_token& stop) {
    std::int64_t total = 0;
    std::vector<OpenFolder> open;
    open.push_back(std::move(top));
    while (!open.empty()) {
        if (stop.stop_requested()) break;
        DIR* folder = open.back().get();
        const dirent* entry = ::readdir(folder);
        if (!entry) {  // its end, or it cannot be read on
            open.pop_back();
            continue;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) {
            struct stat info {};
            if (::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            if (S_ISREG(info.st_mode)) total += static_cast<std::int64_t>(info.st_size);
            if (!S_ISDIR(info.st_mode)) continue;
        } else if (entry->d_type != DT_DIR) {
            continue;  // links and the rest add nothing
        }
        if (OpenFolder child = openFolder(::dirfd(folder), entry->d_name)) open.push_back(std::move(child));
    }
    return total;
}

}  // namespace

std::int64_t ArchiveSize::total(const std::vector<fs::path>& roots, const Uuid& jobID, std::stop_token stop) {
    std::int64_t total = 0;
    for (const fs::path& root : roots) {
        if (stop.stop_requested()) break;
        if (!ArchiveDirectories::treeExists(root, jobID)) continue;
        // The tree exists as real folders; only its last folder is opened here.
        if (OpenFolder top = openFolder(AT_FDCWD, ArchiveDirectories::jobArchiveURL(root, jobID).c_str()))
            total += bytesBelow(std::move(top), stop);
    }
    return total;
}

}  // namespace kelto
