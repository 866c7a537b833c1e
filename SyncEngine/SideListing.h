#pragma once

#include "SyncEngine/SideEntry.h"
#include "SyncEngine/internal/PathTable.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// A side's listing: entries by path key (the path in Normalization Form C),
// each keeping the side's own spelling. Sorted by key; immutable once built.
class SideListing {
    struct Value {
        std::int64_t size;
        std::int64_t mtime;
        EntryKind kind;
        bool timeKnown;
        friend bool operator==(const Value&, const Value&) = default;
    };
    using Table = PathTable<Value>;

public:
    // One entry as stored; the views live as long as the listing.
    struct Ref {
        std::string_view key;
        std::string_view actualPath;
        EntryKind kind;
        std::int64_t size;
        std::int64_t mtime;
        bool timeKnown;

        SideEntry entry() const { return SideEntry{std::string(actualPath), kind, size, mtime, timeKnown}; }
    };

    class Builder {
    public:
        void reserve(std::size_t entries, std::size_t pathBytes) { table_.reserve(entries, pathBytes); }
        // Keys the path; a later entry with an equal key replaces an earlier one.
        void add(std::string_view actualPath, EntryKind kind, std::int64_t size, std::int64_t mtime,
                 bool timeKnown = true);
        void add(const SideEntry& entry) {
            add(entry.actualPath, entry.kind, entry.size, entry.mtime, entry.timeKnown);
        }
        // Copies an entry of another listing with its key as it stands.
        void add(const Ref& entry) {
            table_.add(entry.actualPath, entry.key, Value{entry.size, entry.mtime, entry.kind, entry.timeKnown});
        }
        // Entries added so far. Two spellings of one key (possible only with
        // non-ASCII names) count twice until build() keeps the later one.
        std::size_t size() const { return table_.size(); }
        SideListing build() &&;

    private:
        Table::Builder table_;
    };

    using iterator = IndexIterator<SideListing, Ref>;

    SideListing() = default;
    SideListing(std::initializer_list<SideEntry> entries);
    explicit SideListing(const std::vector<SideEntry>& entries);

    std::size_t size() const { return table_.size(); }
    bool empty() const { return table_.empty(); }
    // Entries that are not folders.
    std::int64_t fileCount() const;
    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, size()); }
    Ref at(std::size_t index) const {
        auto item = table_.at(index);
        return Ref{item.key, item.text, item.value.kind, item.value.size, item.value.mtime, item.value.timeKnown};
    }

    // The spellings build() dropped because a later entry spelled the same
    // key otherwise: names in one folder that differ only in normalisation.
    const std::vector<std::string>& spellingTwins() const { return twins_; }

    std::optional<Ref> find(std::string_view key) const;
    bool contains(std::string_view key) const { return table_.indexOf(key) != size(); }
    // For keys asked in ascending order; see PathTable::indexFrom.
    std::optional<Ref> findFrom(std::string_view key, std::size_t& hint) const;

    friend bool operator==(const SideListing&, const SideListing&) = default;

private:
    SideListing(Table table, std::vector<std::string> twins) : table_(std::move(table)), twins_(std::move(twins)) {}
    Table table_;
    std::vector<std::string> twins_;
};

}  // namespace kelto
