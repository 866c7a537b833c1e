#pragma once

#include "SyncEngine/BaselineEntry.h"
#include "SyncEngine/internal/PathTable.h"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace kelto {

// A two-way baseline: entries by path key, sorted by key, immutable once
// built. Keys are taken as given (they are keys already).
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
        // A later entry with an equal key replaces an earlier one.
        void add(std::string_view key, const BaselineEntry& entry) { table_.add(key, key, entry); }
        std::size_t size() const { return table_.size(); }
        Baseline build() && { return Baseline(std::move(table_).build()); }

    private:
        Table::Builder table_;
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

    friend bool operator==(const Baseline&, const Baseline&) = default;

private:
    explicit Baseline(Table table) : table_(std::move(table)) {}
    Table table_;
};

}  // namespace kelto
