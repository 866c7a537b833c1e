#pragma once

#include "SyncEngine/BaselineEntry.h"
#include "SyncEngine/internal/PathTable.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelto {

// A two-way baseline: entries by path key, sorted by key, immutable once
// built. Keys are taken as given (they are keys already).
//
// An entry is racy where its time was recorded so near the moment its
// listing began that an edit made after, within the same second and of the
// same size, lists as the entry does: only its contents tell the two apart.
// Only files and links, whose contents can be compared, are marked. A
// baseline saved without marks (by an older build) may hold racy entries no
// one can point to: its marks are unknown.
class Baseline {
    using Table = PathTable<BaselineEntry>;

public:
    struct Ref {
        std::string_view key;
        const BaselineEntry& entry;
    };

    class Builder {
    public:
        void reserve(std::size_t entries, std::size_t keyBytes) { table_.reserve(entries, keyBytes); }
        // A later entry with an equal key replaces an earlier one; a mark
        // stays with the key.
        void add(std::string_view key, const BaselineEntry& entry, bool racy = false) {
            table_.add(key, key, entry);
            if (racy) mark(key);
        }
        // Marks the entry under `key` racy: kept only where it is a file or link.
        void mark(std::string_view key) { racy_.emplace_back(key); }
        void marksUnknown() { marksKnown_ = false; }
        std::size_t size() const { return table_.size(); }
        Baseline build() && {
            Baseline built(std::move(table_).build());
            std::sort(racy_.begin(), racy_.end());
            racy_.erase(std::unique(racy_.begin(), racy_.end()), racy_.end());
            std::erase_if(racy_, [&](const std::string& key) {
                const BaselineEntry* entry = built.find(key);
                return !entry || !comparable(entry->kind);
            });
            built.racy_ = std::move(racy_);
            built.marksKnown_ = marksKnown_;
            return built;
        }

    private:
        Table::Builder table_;
        std::vector<std::string> racy_;
        bool marksKnown_ = true;
    };

    using iterator = IndexIterator<Baseline, Ref>;

    Baseline() = default;
    Baseline(std::initializer_list<std::pair<std::string, BaselineEntry>> entries) {
        Builder builder;
        for (const auto& [key, entry] : entries) builder.add(key, entry);
        *this = std::move(builder).build();
    }

    std::size_t size() const { return table_.size(); }
    bool empty() const { return table_.empty(); }
    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, size()); }
    Ref at(std::size_t index) const {
        auto item = table_.at(index);
        return Ref{item.key, item.value};
    }

    const BaselineEntry* find(std::string_view key) const {
        const std::size_t index = table_.indexOf(key);
        return index == size() ? nullptr : &table_.at(index).value;
    }

    // Whether the entry under `key` is marked racy; false where the marks
    // are unknown.
    bool racy(std::string_view key) const {
        return !racy_.empty() && std::binary_search(racy_.begin(), racy_.end(), key, std::less<>());
    }
    // The marked keys, sorted.
    const std::vector<std::string>& racyKeys() const { return racy_; }
    bool marksKnown() const { return marksKnown_; }
    // Kinds whose contents tell two versions apart.
    static bool comparable(EntryKind kind) { return kind == EntryKind::file || kind == EntryKind::symlink; }

    friend bool operator==(const Baseline&, const Baseline&) = default;

private:
    explicit Baseline(Table table) : table_(std::move(table)) {}
    Table table_;
    std::vector<std::string> racy_;
    bool marksKnown_ = true;
};

}  // namespace kelto
