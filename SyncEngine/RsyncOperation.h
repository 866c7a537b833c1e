#pragma once

#include <filesystem>

namespace kelto {

// What one rsync run is to do.
struct RsyncOperation {
    enum class Kind { filesFrom, mirror, copy, listOnly };

    Kind kind = Kind::copy;
    std::filesystem::path listFile;  // filesFrom: NUL-separated names to transfer

    static RsyncOperation filesFrom(std::filesystem::path list) { return {Kind::filesFrom, std::move(list)}; }
    static RsyncOperation mirror() { return {Kind::mirror, {}}; }
    static RsyncOperation copy() { return {Kind::copy, {}}; }
    static RsyncOperation listOnly() { return {Kind::listOnly, {}}; }

    friend bool operator==(const RsyncOperation&, const RsyncOperation&) = default;
};

}  // namespace kelto
