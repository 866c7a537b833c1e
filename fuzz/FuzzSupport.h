#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <system_error>

// A property of a target: checked in every build (NDEBUG or not) and fatal,
// so that libFuzzer keeps the input that broke it.
#define KELTO_FUZZ_CHECK(condition)                                                               \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "property broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            __builtin_trap();                                                                     \
        }                                                                                         \
    } while (false)

namespace kelto::Fuzz {

// A fresh folder under TMPDIR for the life of the process, removed at exit.
// Never destroyed itself, so that it outlives the handler that removes it.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path* const folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kelto-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        return new std::filesystem::path(pattern);
    }();
    static const bool removedAtExit = std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(*folder, ignored);
    }) == 0;
    (void)removedAtExit;
    return *folder;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    KELTO_FUZZ_CHECK(out.good());
}

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry below a folder with its type and, for files, its bytes: two
// equal snapshots mean nothing was written, created or removed.
inline std::map<std::string, std::string> snapshot(const std::filesystem::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().lexically_relative(folder).string();
        if (entry.is_symlink())
            out[name] = "link:" + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            out[name] = "file:" + readFile(entry.path());
        else
            out[name] = "other";
    }
    return out;
}

// Empties a folder without removing it.
inline void clearFolder(const std::filesystem::path& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) std::filesystem::remove_all(entry.path());
}

}  // namespace kelto::Fuzz
