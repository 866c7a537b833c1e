#include "SyncEngine/SideListing.h"

#include "SyncModel/Support/Unicode.h"

#include <cstring>
#include <string>

namespace kelto {

namespace {
// Eight bytes at a time: most names are ASCII and need no normalisation.
bool isAscii(std::string_view text) {
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull) return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) >= 0x80) return false;
    return true;
}
}  // namespace

void SideListing::Builder::add(std::string_view actualPath, EntryKind kind, std::int64_t size, std::int64_t mtime) {
    const Value value{size, mtime, kind};
    if (isAscii(actualPath)) {
        table_.add(actualPath, actualPath, value);
    } else {
        const std::string key = Unicode::nfc(actualPath);
        table_.add(actualPath, key, value);
    }
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
