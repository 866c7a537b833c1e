#include "SyncEngine/SideListing.h"

#include "SyncEngine/PathKey.h"

#include <algorithm>
#include <string>

namespace kelto {

void SideListing::Builder::add(std::string_view actualPath, EntryKind kind, std::int64_t size, std::int64_t mtime,
                               bool timeKnown) {
    std::string storage;
    table_.add(actualPath, PathKey::of(actualPath, storage), Value{size, mtime, kind, timeKnown});
}

SideListing SideListing::Builder::build() && {
    std::vector<std::string> twins;
    Table table = std::move(table_).build([&twins](std::string_view dropped, std::string_view kept) {
        // The same spelling twice is one entry listed again, not a twin.
        if (dropped != kept && std::find(twins.begin(), twins.end(), dropped) == twins.end())
            twins.emplace_back(dropped);
    });
    return SideListing(std::move(table), std::move(twins));
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
