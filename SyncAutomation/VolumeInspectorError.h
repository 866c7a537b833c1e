#pragma once

#include <filesystem>
#include <stdexcept>

namespace kelto {

class VolumeInspectorError : public std::runtime_error {
public:
    // The chosen item is not a folder, or no mounted volume holds it.
    enum class Code { notAFolder };

    VolumeInspectorError(Code code, const std::filesystem::path& path)
        : std::runtime_error("“" + path.string() + "” is not a folder on a mounted volume."), code_(code), path_(path) {}
    Code code() const { return code_; }
    const std::filesystem::path& path() const { return path_; }

private:
    Code code_;
    std::filesystem::path path_;
};

}  // namespace kelto
