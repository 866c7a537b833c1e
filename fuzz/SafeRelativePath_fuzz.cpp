// The relative-path check never fails hard, and what it accepts has no empty,
// "." or ".." piece, no leading "/" and no NUL, does not start in the
// reserved folder unless that is allowed, and passes through no link or file
// among the folders that exist on the way. The root holds a folder, a file,
// links to a folder and out of the root, and the reserved folder.
#include "SyncEngine/ArchiveDirectories.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

const fs::path& root() {
    static const fs::path folder = [] {
        const fs::path r = Fuzz::scratchFolder() / "root";
        fs::create_directories(r / "dir" / "sub");
        fs::create_directories(r / ".KeltoSync" / "Archive");
        Fuzz::writeFile(r / "file", "x");
        Fuzz::writeFile(r / "dir" / "file", "x");
        fs::create_directory_symlink("dir", r / "link");
        fs::create_directory_symlink("..", r / "dir" / "up");
        fs::create_directory_symlink("/", r / "slash");
        return r;
    }();
    return folder;
}

std::vector<std::string> pieces(std::string_view path) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        out.emplace_back(path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) return out;
        start = slash + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool allowReserved = input.ConsumeBool();
    const std::string path = input.ConsumeRemainingBytesAsString();

    if (!ArchiveDirectories::isSafeRelativePath(path, root(), allowReserved)) return 0;

    KELTO_FUZZ_CHECK(!path.empty() && path.front() != '/');
    KELTO_FUZZ_CHECK(path.find('\0') == std::string::npos);
    const std::vector<std::string> parts = pieces(path);
    for (const std::string& part : parts) KELTO_FUZZ_CHECK(!part.empty() && part != "." && part != "..");
    if (!allowReserved) KELTO_FUZZ_CHECK(parts.front() != ".KeltoSync");

    // Every folder on the way that exists is a real folder.
    fs::path at = root();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        at /= parts[i];
        struct stat info {};
        if (::lstat(at.c_str(), &info) != 0) break;
        KELTO_FUZZ_CHECK(S_ISDIR(info.st_mode));
    }
    return 0;
}
