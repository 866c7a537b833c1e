#include "SyncEngine/internal/ContentCheck.h"

#include "SyncEngine/CancellationError.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kelto {

namespace {

constexpr std::size_t chunk = 256 * 1024;

// Up to `size` bytes, fewer only at the end of the file; nullopt on a failure.
std::optional<std::size_t> readFull(int file, char* into, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(file, into + got, size - got);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// A link's target, read where it lies; nullopt where it cannot be.
std::optional<std::string> targetOf(int parent, const std::string& name, std::size_t size) {
    std::string target(size + 1, '\0');  // one byte more shows a target grown meanwhile
    const ssize_t n = ::readlinkat(parent, name.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<std::size_t>(n) > size) return std::nullopt;
    target.resize(static_cast<std::size_t>(n));
    return target;
}

}  // namespace

ContentCheck::ContentCheck(std::filesystem::path rootA, std::filesystem::path rootB, std::stop_token stop)
    : roots_{std::move(rootA), std::move(rootB)}, stop_(std::move(stop)) {}

TwoWayPlanner::SameContents ContentCheck::asked() {
    return [this](std::string_view pathOnA, std::string_view pathOnB) { return same(pathOnA, pathOnB); };
}

std::optional<ContentCheck::Item> ContentCheck::find(int side, std::string_view path) {
    try {
        std::optional<SafeFileSystem::Folder>& root = folders_[side];
        if (!root) root = SafeFileSystem::openRoot(roots_[side]);
        if (!root) return std::nullopt;
        std::vector<std::string> pieces = SafeFileSystem::split(path);
        std::string name = std::move(pieces.back());
        pieces.pop_back();
        std::optional<SafeFileSystem::Folder> parent = SafeFileSystem::openPath(*root, pieces);
        if (!parent) return std::nullopt;
        const std::optional<struct stat> info = SafeFileSystem::statChild(*parent, name);
        if (!info) return std::nullopt;
        return Item{std::move(*parent), std::move(name), *info};
    } catch (const FileError&) {
        return std::nullopt;
    }
}

bool ContentCheck::same(std::string_view pathOnA, std::string_view pathOnB) {
    if (stop_.stop_requested()) throw CancellationError();
    const std::optional<Item> a = find(0, pathOnA);
    const std::optional<Item> b = find(1, pathOnB);
    if (!a || !b || a->info.st_size != b->info.st_size) return false;
    if (S_ISLNK(a->info.st_mode) && S_ISLNK(b->info.st_mode)) {
        const auto size = static_cast<std::size_t>(a->info.st_size);
        const std::optional<std::string> targetA = targetOf(a->parent.get(), a->name, size);
        return targetA && targetA == targetOf(b->parent.get(), b->name, size);
    }
    return S_ISREG(a->info.st_mode) && S_ISREG(b->info.st_mode) && sameBytes(*a, *b);
}

bool ContentCheck::sameBytes(const Item& a, const Item& b) const {
    std::optional<FileDescriptor> fileA, fileB;
    try {
        fileA = SafeFileSystem::openFile(a.parent, a.name);
        fileB = SafeFileSystem::openFile(b.parent, b.name);
    } catch (const FileError&) {
        return false;
    }
    if (!fileA || !fileB) return false;
    const auto bufferA = std::make_unique<char[]>(chunk), bufferB = std::make_unique<char[]>(chunk);
    for (;;) {
        if (stop_.stop_requested()) throw CancellationError();
        const std::optional<std::size_t> gotA = readFull(fileA->get(), bufferA.get(), chunk);
        const std::optional<std::size_t> gotB = readFull(fileB->get(), bufferB.get(), chunk);
        if (!gotA || !gotB || *gotA != *gotB) return false;
        if (std::memcmp(bufferA.get(), bufferB.get(), *gotA) != 0) return false;
        if (*gotA < chunk) return true;
    }
}

}  // namespace kelto
