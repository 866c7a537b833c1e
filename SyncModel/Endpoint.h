#pragma once

#include "SyncModel/VolumeIdentity.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kelto {

// One side of a job.
struct Endpoint {
    std::string path;                     // absolute path when chosen
    std::optional<std::string> bookmark;  // opaque bytes
    VolumeIdentity volume;
    std::string relativePath;  // inside the volume
    std::optional<std::uint64_t> fileID;

    // What a new job holds until folders are chosen.
    static Endpoint empty() { return Endpoint{}; }

    friend bool operator==(const Endpoint& a, const Endpoint& b);
};

template <>
struct JsonCodec<Endpoint> {
    static Json encode(const Endpoint& value);
    static Endpoint decode(const JsonIn& in);
};

}  // namespace kelto
