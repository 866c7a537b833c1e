// Adds up a job's archive of 100,000 files (sizes 0 to 4 KiB, 200 to a
// folder) with ArchiveSize and with `du -sb` on the same tree, and prints
// both wall times, the ratio and whether the totals agree. The tree holds
// regular files and folders only, so du's apparent size counts the same
// bytes plus the folders' own sizes, which are printed apart.
//
//   ArchiveSizeBench [root folder] [file count] [rounds]

#include "Kelto_Sync/ArchiveSize.h"
#include "SyncEngine/ArchiveDirectories.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

using namespace kelto;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

namespace {

const Uuid jobID = *Uuid::parse("6A0C4E0B-2D5C-4F43-9A57-0D1C8D1E6F01");

std::int64_t generateTree(const fs::path& root, int files) {
    const fs::path archive = ArchiveDirectories::jobArchiveURL(root, jobID);
    std::int64_t bytes = 0;
    constexpr int perFolder = 200;
    const std::string block(4096, 'k');
    fs::remove_all(root / ArchiveDirectories::reservedName);
    for (int i = 0; i < files; ++i) {
        const fs::path folder = archive / ("2024-05-01_10-00-" + std::to_string(i / 20000)) /
                                ("folder " + std::to_string(i / perFolder));
        if (i % perFolder == 0) fs::create_directories(folder);
        const fs::path file = folder / ("file-" + std::to_string(i) + ".dat");
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) throw std::runtime_error("cannot create " + file.string());
        const std::size_t size = static_cast<std::size_t>((i * 37) % 4097);
        if (::write(fd, block.data(), size) != static_cast<ssize_t>(size)) throw std::runtime_error("short write");
        ::close(fd);
        bytes += static_cast<std::int64_t>(size);
    }
    return bytes;
}

std::int64_t du(const fs::path& path) {
    const std::string command = "du -sb '" + path.string() + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) throw std::runtime_error("cannot start du");
    long long bytes = -1;
    if (std::fscanf(pipe.get(), "%lld", &bytes) != 1) throw std::runtime_error("du gave no total");
    return bytes;
}

template <typename F>
double best(int rounds, F&& work) {
    double fastest = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Steady::now();
        work();
        fastest = std::min(fastest, std::chrono::duration<double>(Steady::now() - start).count());
    }
    return fastest;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path root = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "kelto-archive-size-bench";
    const int files = argc > 2 ? std::stoi(argv[2]) : 100'000;
    const int rounds = argc > 3 ? std::stoi(argv[3]) : 5;
    fs::create_directories(root);
    const std::int64_t written = generateTree(root, files);
    const fs::path archive = ArchiveDirectories::jobArchiveURL(root, jobID);

    std::int64_t walked = 0;
    std::int64_t measured = 0;
    const double walk = best(rounds, [&] { walked = ArchiveSize::total({root}, jobID); });
    const double duTime = best(rounds, [&] { measured = du(archive); });
    std::printf("files: %d, bytes written: %lld\n", files, static_cast<long long>(written));
    std::printf("ArchiveSize::total: %.3f s, %lld bytes%s\n", walk, static_cast<long long>(walked),
                walked == written ? " (matches)" : " (DIFFERS)");
    std::printf("du -sb:             %.3f s, %lld bytes (files plus the folders' own sizes)\n", duTime,
                static_cast<long long>(measured));
    std::printf("ratio walk/du: %.2f (best of %d rounds, warm cache)\n", walk / duTime, rounds);
    fs::remove_all(root);
    return walked == written ? 0 : 1;
}
