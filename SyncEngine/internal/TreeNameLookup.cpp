#include "SyncEngine/internal/TreeNameLookup.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/CancellationError.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileIO.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// Round trips waited out side by side; more gain little over one connection.
constexpr int lookers = 4;
// A listing read in pieces of this size: a few hundred names a call.
constexpr std::size_t listingBytes = 32 * 1024;

const std::string_view reserved = ArchiveDirectories::reservedName;

// Where a folder cannot be read, no walk enters it either.
void unlessUnreadable(const char* what, const fs::path& where) {
    if (errno != EACCES) throw FileError(errno, what, where);
}

}  // namespace

TreeNameLookup::TreeNameLookup(std::vector<Tree> trees, std::stop_token stop)
    : trees_(std::move(trees)), onStop_(std::move(stop), std::function<void()>([this] {
                                            const std::lock_guard guard(lock_);
                                            stopped_ = true;
                                            changed_.notify_all();
                                        })) {
    for (std::size_t tree = 0; tree < trees_.size(); ++tree) pending_.push_back({nullptr, trees_[tree].top, tree, 0});
    try {
        for (int n = 0; n < lookers; ++n) lookers_.emplace_back([this] { look(); });
    } catch (...) {
        stopAll();
        throw;
    }
}

TreeNameLookup::~TreeNameLookup() { stopAll(); }

void TreeNameLookup::stopAll() noexcept {
    {
        const std::lock_guard guard(lock_);
        stopped_ = true;
        changed_.notify_all();
    }
    for (std::thread& looker : lookers_)
        if (looker.joinable()) looker.join();
}

bool TreeNameLookup::found() const {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return ended(); });
    if (found_) return true;
    if (error_) std::rethrow_exception(error_);
    if (pending_.empty() && busy_ == 0) return false;
    throw CancellationError();
}

void TreeNameLookup::look() {
    std::vector<char> buffer(listingBytes);
    std::vector<Folder> inner;
    for (;;) {
        Folder folder;
        {
            std::unique_lock guard(lock_);
            changed_.wait(guard, [this] { return ended() || !pending_.empty(); });
            if (ended()) return;
            folder = std::move(pending_.back());
            pending_.pop_back();
            ++busy_;
        }
        inner.clear();
        bool marked = false;
        std::exception_ptr failed;
        try {
            marked = lookIn(folder, buffer, inner);
        } catch (...) {
            failed = std::current_exception();
        }
        folder.parent.reset();  // closed before the lock, not under it
        const std::lock_guard guard(lock_);
        --busy_;
        if (marked) found_ = true;
        if (failed && !error_) error_ = failed;
        for (Folder& below : inner) pending_.push_back(std::move(below));
        changed_.notify_all();
    }
}

bool TreeNameLookup::lookIn(const Folder& folder, std::vector<char>& buffer, std::vector<Folder>& inner) const {
    const Tree& tree = trees_[folder.tree];
    // Opened once, relative to the folder above: it is looked up in, listed,
    // and the folders below are opened through it.
    FileDescriptor opened(folder.parent ? ::openat(folder.parent->get(), folder.path.filename().c_str(),
                                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                        : ::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened.valid()) {
        if (!folder.parent) throw FileError(errno, "Could not open", folder.path);
        // Not a folder, a link, or gone since it was listed.
        if (errno == ENOTDIR || errno == ELOOP || errno == ENOENT) return false;
        unlessUnreadable("Could not open", folder.path);
        return false;
    }
    struct stat info {};
    if (::fstat(opened.get(), &info) != 0) throw FileError(errno, "Could not read", folder.path);
    // A mount met below is placed on its own.
    if (folder.parent && info.st_dev != folder.device) return false;

    struct stat there {};
    if (::fstatat(opened.get(), tree.name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno != ENOENT && errno != ENOTDIR && errno != EACCES)
        throw FileError(errno, "Could not look up", folder.path / tree.name);

    const auto held = std::make_shared<const FileDescriptor>(std::move(opened));
    for (;;) {
        const ssize_t got = ::getdents64(held->get(), buffer.data(), buffer.size());
        if (got == 0) break;
        if (got < 0) {
            // What was listed so far is still looked at; the rest cannot be.
            unlessUnreadable("Could not list", folder.path);
            break;
        }
        for (ssize_t at = 0; at < got;) {
            dirent64 entry;
            std::memcpy(&entry, buffer.data() + at, offsetof(dirent64, d_name));
            const std::string_view name(buffer.data() + at + offsetof(dirent64, d_name));
            at += entry.d_reclen;
            if (name == "." || name == ".." || name == reserved ||
                (entry.d_type != DT_DIR && entry.d_type != DT_UNKNOWN))
                continue;
            inner.push_back({held, folder.path / name, folder.tree, info.st_dev});
        }
    }
    return false;
}

}  // namespace kelto
