#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Walks a container that hands out its elements by index through at().
template <class Container, class Value>
class IndexIterator {
public:
    using difference_type = std::ptrdiff_t;
    using value_type = Value;
    IndexIterator() = default;
    IndexIterator(const Container* container, std::size_t index) : container_(container), index_(index) {}
    Value operator*() const { return container_->at(index_); }
    IndexIterator& operator++() {
        ++index_;
        return *this;
    }
    IndexIterator operator++(int) {
        IndexIterator old = *this;
        ++index_;
        return old;
    }
    friend bool operator==(const IndexIterator& x, const IndexIterator& y) { return x.index_ == y.index_; }

private:
    const Container* container_ = nullptr;
    std::size_t index_ = 0;
};

// Entries keyed by a path key and sorted by the key's bytes, with every text
// in one shared buffer: a million entries cost a handful of allocations, and
// two tables can be walked side by side in key order. Each entry keeps a text
// (for a side listing, the path as spelled on disk) and a key, stored once
// when the two are equal.
template <class Value>
class PathTable {
    static constexpr std::uint32_t separateKey = 0x8000'0000u;

    struct Slot {
        std::uint64_t offset;      // the text; a separate key follows it
        std::uint32_t textLength;
        std::uint32_t keyLength;   // | separateKey when the key is stored after the text
        Value value;
    };

public:
    struct Item {
        std::string_view key;
        std::string_view text;
        const Value& value;
    };

    // Collects entries in any order; build() sorts them and keeps, of several
    // entries with one key, the one added last.
    class Builder {
    public:
        void reserve(std::size_t entries, std::size_t textBytes) {
            slots_.reserve(entries);
            bytes_.reserve(textBytes);
        }

        void add(std::string_view text, std::string_view key, const Value& value) {
            if (text.size() >= separateKey || key.size() >= separateKey) throw std::length_error("path too long");
            Slot slot{bytes_.size(), static_cast<std::uint32_t>(text.size()), static_cast<std::uint32_t>(key.size()),
                      value};
            bytes_.append(text);
            if (key.data() != text.data() && key != text) {
                slot.keyLength |= separateKey;
                bytes_.append(key);
            }
            slots_.push_back(slot);
        }

        // Entries added so far, counting each added entry (a later entry with
        // the key of an earlier one is folded into it only by build()).
        std::size_t size() const { return slots_.size(); }

        PathTable build() && {
            return std::move(*this).build([](std::string_view, std::string_view) {});
        }
        // Tells onFold(droppedText, keptText) of every entry that a later one
        // with the same key replaced.
        template <class OnFold>
        PathTable build(OnFold&& onFold) && {
            PathTable table;
            table.bytes_ = std::move(bytes_);
            table.slots_ = std::move(slots_);
            table.sortAndFold(onFold);
            return table;
        }

    private:
        std::string bytes_;
        std::vector<Slot> slots_;
    };

    using iterator = IndexIterator<PathTable, Item>;

    std::size_t size() const { return slots_.size(); }
    bool empty() const { return slots_.empty(); }
    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, slots_.size()); }

    Item at(std::size_t index) const {
        const Slot& slot = slots_[index];
        return Item{keyOf(slot), textOf(slot), slot.value};
    }
    std::string_view keyAt(std::size_t index) const { return keyOf(slots_[index]); }

    // Index of the entry with the key, or size().
    std::size_t indexOf(std::string_view key) const {
        auto it = std::lower_bound(slots_.begin(), slots_.end(), key,
                                   [this](const Slot& slot, std::string_view k) { return keyOf(slot) < k; });
        if (it == slots_.end() || keyOf(*it) != key) return slots_.size();
        return static_cast<std::size_t>(it - slots_.begin());
    }

    // Like indexOf, for keys asked in ascending order: searches onward from
    // `hint` (advanced past the entry found) by doubling steps, so a sorted
    // run of look-ups costs one walk instead of one binary search each.
    std::size_t indexFrom(std::string_view key, std::size_t& hint) const {
        const std::size_t n = slots_.size();
        if (hint > n || (hint > 0 && !(keyOf(slots_[hint - 1]) < key))) hint = 0;
        std::size_t low = hint, step = 1, high = hint;
        while (high < n && keyOf(slots_[high]) < key) {
            low = high + 1;
            high += step;
            step *= 2;
        }
        high = std::min(high, n);
        auto first = slots_.begin() + static_cast<std::ptrdiff_t>(low);
        auto last = slots_.begin() + static_cast<std::ptrdiff_t>(high);
        auto it = std::lower_bound(first, last, key,
                                   [this](const Slot& slot, std::string_view k) { return keyOf(slot) < k; });
        const auto index = static_cast<std::size_t>(it - slots_.begin());
        hint = index;
        if (index == n || keyOf(*it) != key) return n;
        hint = index + 1;
        return index;
    }

    friend bool operator==(const PathTable& x, const PathTable& y) {
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const Slot& a = x.slots_[i];
            const Slot& b = y.slots_[i];
            if (x.keyOf(a) != y.keyOf(b) || x.textOf(a) != y.textOf(b) || !(a.value == b.value)) return false;
        }
        return true;
    }

private:
    std::string_view textOf(const Slot& slot) const {
        return {bytes_.data() + slot.offset, slot.textLength};
    }
    std::string_view keyOf(const Slot& slot) const {
        if (!(slot.keyLength & separateKey)) return {bytes_.data() + slot.offset, slot.textLength};
        return {bytes_.data() + slot.offset + slot.textLength, slot.keyLength & ~separateKey};
    }

    template <class OnFold>
    void sortAndFold(OnFold& onFold) {
        auto less = [this](const Slot& x, const Slot& y) { return keyOf(x) < keyOf(y); };
        // Strictly ascending input (a stored baseline, a plan's lists) needs no sort.
        if (std::adjacent_find(slots_.begin(), slots_.end(), [&](const Slot& x, const Slot& y) {
                return !less(x, y);
            }) == slots_.end())
            return;
        std::stable_sort(slots_.begin(), slots_.end(), less);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < slots_.size();) {
            // Of a run of equal keys, the last one added wins.
            std::size_t last = i;
            while (last + 1 < slots_.size() && keyOf(slots_[last + 1]) == keyOf(slots_[i])) ++last;
            for (std::size_t dropped = i; dropped < last; ++dropped)
                onFold(textOf(slots_[dropped]), textOf(slots_[last]));
            slots_[kept++] = slots_[last];
            i = last + 1;
        }
        slots_.resize(kept);
    }

    std::string bytes_;
    std::vector<Slot> slots_;
};

}  // namespace kelto
