#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace kelto {

// The reserved folder's layout cannot be used as it is.
class ArchiveDirectoriesError : public std::runtime_error {
public:
    enum class Code {
        invalidFileName,  // a run identifier that does not parse, or a layout item that is not a real folder
    };

    ArchiveDirectoriesError(Code code, std::filesystem::path path);

    Code code() const { return code_; }
    const std::filesystem::path& path() const { return path_; }

private:
    Code code_;
    std::filesystem::path path_;
};

}  // namespace kelto
