#pragma once

#include "SyncModel/Support/Json.h"

#include <optional>
#include <string>

namespace kelto {

enum class VolumeKind { internal, removable, network };
template <>
struct EnumNames<VolumeKind> {
    static constexpr std::array<std::string_view, 3> names{"internal", "removable", "network"};
};

// The volume that held an endpoint's folder when it was chosen.
struct VolumeIdentity {
    VolumeKind kind = VolumeKind::internal;
    std::optional<std::string> uuid;
    std::string name;
    std::string fileSystem;
    bool isReadOnly = false;
    bool caseSensitive = false;
    std::optional<Url> remountURL;

    // Whether two identities denote the same volume: local volumes by UUID
    // (two without one never match), network shares by host, share path and
    // name.
    bool matches(const VolumeIdentity& other) const;

    friend bool operator==(const VolumeIdentity& a, const VolumeIdentity& b);
};

template <>
struct JsonCodec<VolumeIdentity> {
    static Json encode(const VolumeIdentity& value);
    static VolumeIdentity decode(const JsonIn& in);
};

}  // namespace kelto
