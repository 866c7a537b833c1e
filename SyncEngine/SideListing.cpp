#include "SyncEngine/SideListing.h"

#include "SyncEngine/PathKey.h"

#include <string>

namespace kelto {

void SideListing::Builder::add(std::string_view actualPath, EntryKind kind, std::int64_t size, std::int64_t mtime) {
    std::string storage;
    table_.add(actualPath, PathKey::of(actualPath, storage), Value{size, mtime, kind});
}

SideListing::SideListing(std::initializer_list<SideEntry> entries) {
    Builder builder;
    for (const SideEntry& entry : entries) builder.add(entry);
    *this = std::move(builder).build();
}

SideListing::SideListing(const std::vector<SideEntry>& entries) {
    Builder builder;
    for (const SideEntry& entry : entries) builder.add(entry);
    *this = std::move(builder).build();
}

std::int64_t SideListing::fileCount() const {
    std::int64_t count = 0;
    for (const Ref entry : *this)
        if (entry.kind != EntryKind::directory) ++count;
    return count;
}

std::optional<SideListing::Ref> SideListing::find(std::string_view key) const {
    const std::size_t index = table_.indexOf(key);
    if (index == size()) return std::nullopt;
    return at(index);
}

std::optional<SideListing::Ref> SideListing::findFrom(std::string_view key, std::size_t& hint) const {
    const std::size_t index = table_.indexFrom(key, hint);
    if (index == size()) return std::nullopt;
    return at(index);
}

}  // namespace kelto
