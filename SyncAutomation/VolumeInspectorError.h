#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace kelto {

class VolumeInspectorError : public std::runtime_error {
public:
    enum class Code {
        notAFolder,            // the chosen item is not a folder, or no mounted volume holds it
        mountTableUnreadable,  // the mount table could not be read
        mountUnplaced,         // path(): a mount (or folder) whose folders cannot be located
    };

    VolumeInspectorError(Code code, const std::filesystem::path& path)
        : std::runtime_error(describe(code, path)), code_(code), path_(path) {}
    Code code() const { return code_; }
    const std::filesystem::path& path() const { return path_; }

private:
    static std::string describe(Code code, const std::filesystem::path& path) {
        switch (code) {
        case Code::notAFolder: return "“" + path.string() + "” is not a folder on a mounted volume.";
        case Code::mountTableUnreadable:
            return "The table of mounted volumes could not be read, so whether the two folders overlap cannot be "
                   "told.";
        case Code::mountUnplaced:
            return "What is mounted at “" + path.string() +
                   "” keeps its files in folders that cannot be located, so whether the two folders overlap cannot "
                   "be told.";
        }
        return "The volume could not be inspected.";
    }

    Code code_;
    std::filesystem::path path_;
};

}  // namespace kelto
