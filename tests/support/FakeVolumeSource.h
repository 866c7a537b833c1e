#pragma once

#include "SyncAutomation/VolumeSource.h"

#include <string>

namespace kelto::test {

// A mount table the test writes.
class FakeVolumeSource final : public VolumeSource {
public:
    std::vector<MountedFileSystem> table;

    MountedFileSystem& add(const std::filesystem::path& mountPoint, VolumeIdentity identity, bool browsable = true) {
        table.push_back({mountPoint, browsable, std::move(identity), "/", 0});
        return table.back();
    }

    std::vector<MountedFileSystem> mounts() const override { return table; }
    std::optional<std::uint64_t> availableCapacity(const std::filesystem::path&) const override { return std::nullopt; }
};

inline VolumeIdentity volumeIdentity(VolumeKind kind, std::optional<std::string> uuid, std::string name,
                                     std::string fileSystem = "ext4") {
    VolumeIdentity v;
    v.kind = kind;
    v.uuid = std::move(uuid);
    v.name = std::move(name);
    v.fileSystem = std::move(fileSystem);
    v.caseSensitive = true;
    return v;
}

}  // namespace kelto::test
