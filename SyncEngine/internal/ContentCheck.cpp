#include "SyncEngine/internal/ContentCheck.h"

#include "SyncEngine/CancellationError.h"
#include "SyncModel/Support/FileSystemCapabilities.h"

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kelto {

namespace {

constexpr std::size_t chunk = 256 * 1024;

// Times kept to the nanosecond, as set.
bool stampsFinely(int file) {
    struct statfs info {};
    return ::fstatfs(file, &info) == 0 &&
           FileSystemCapabilities::forMagic(static_cast<std::int64_t>(info.f_type)).timeResolution <= 1;
}

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

}  // namespace

ContentCheck::ContentCheck(std::filesystem::path rootA, std::filesystem::path rootB, std::stop_token stop)
    : roots_{std::move(rootA), std::move(rootB)}, stop_(std::move(stop)) {}

TwoWayPlanner::SameContents ContentCheck::asked() {
    return [this](std::string_view pathOnA, std::string_view pathOnB) { return same(pathOnA, pathOnB); };
}

std::optional<FileDescriptor> ContentCheck::open(int side, std::string_view path) {
    try {
        std::optional<SafeFileSystem::Folder>& root = folders_[side];
        if (!root) root = SafeFileSystem::openRoot(roots_[side]);
        if (!root) return std::nullopt;
        std::vector<std::string> pieces = SafeFileSystem::split(path);
        const std::string name = std::move(pieces.back());
        pieces.pop_back();
        const std::optional<SafeFileSystem::Folder> parent = SafeFileSystem::openPath(*root, pieces);
        if (!parent) return std::nullopt;
        return SafeFileSystem::openFile(*parent, name);
    } catch (const FileError&) {
        return std::nullopt;
    }
}

bool ContentCheck::same(std::string_view pathOnA, std::string_view pathOnB) {
    if (stop_.stop_requested()) throw CancellationError();
    const std::optional<FileDescriptor> a = open(0, pathOnA);
    const std::optional<FileDescriptor> b = open(1, pathOnB);
    struct stat infoA {}, infoB {};
    if (!a || !b || ::fstat(a->get(), &infoA) != 0 || ::fstat(b->get(), &infoB) != 0) return false;
    if (infoA.st_size != infoB.st_size) return false;
    if (infoA.st_mtim.tv_sec == infoB.st_mtim.tv_sec && infoA.st_mtim.tv_nsec == infoB.st_mtim.tv_nsec &&
        infoA.st_mtim.tv_nsec != 0 && stampsFinely(a->get()) && stampsFinely(b->get()))
        return true;
    return sameBytes(a->get(), b->get());
}

bool ContentCheck::sameBytes(int fileA, int fileB) const {
    const auto bufferA = std::make_unique<char[]>(chunk), bufferB = std::make_unique<char[]>(chunk);
    for (;;) {
        if (stop_.stop_requested()) throw CancellationError();
        const std::optional<std::size_t> gotA = readFull(fileA, bufferA.get(), chunk);
        const std::optional<std::size_t> gotB = readFull(fileB, bufferB.get(), chunk);
        if (!gotA || !gotB || *gotA != *gotB) return false;
        if (std::memcmp(bufferA.get(), bufferB.get(), *gotA) != 0) return false;
        if (*gotA < chunk) return true;
    }
}

}  // namespace kelto
