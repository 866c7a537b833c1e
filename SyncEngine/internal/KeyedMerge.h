#pragma once

#include "SyncEngine/Baseline.h"
#include "SyncEngine/SideListing.h"

#include <cstddef>
#include <optional>
#include <string_view>

namespace kelto {

// Walks two side listings and a baseline together in key order (all three
// are sorted by key), stopping once at every key that any of them holds.
class KeyedMerge {
public:
    KeyedMerge(const SideListing& sideA, const SideListing& sideB, const Baseline& baseline)
        : sideA_(sideA), sideB_(sideB), baseline_(baseline) {}

    // Moves to the next key; false once all three are used up.
    bool next() {
        const std::size_t nA = sideA_.size(), nB = sideB_.size(), nL = baseline_.size();
        if (i_ >= nA && j_ >= nB && k_ >= nL) return false;
        bool haveKey = false;
        auto consider = [&](std::string_view candidate) {
            if (!haveKey || candidate < key) key = candidate;
            haveKey = true;
        };
        if (i_ < nA) consider(sideA_.at(i_).key);
        if (j_ < nB) consider(sideB_.at(j_).key);
        if (k_ < nL) consider(baseline_.at(k_).key);

        atA_ = i_ < nA && sideA_.at(i_).key == key ? i_++ : none;
        atB_ = j_ < nB && sideB_.at(j_).key == key ? j_++ : none;
        base = k_ < nL && baseline_.at(k_).key == key ? &baseline_.at(k_++).entry : nullptr;
        return true;
    }

    // The entries under the current key, where a side has one.
    std::optional<SideListing::Ref> a() const {
        return atA_ == none ? std::nullopt : std::optional<SideListing::Ref>(sideA_.at(atA_));
    }
    std::optional<SideListing::Ref> b() const {
        return atB_ == none ? std::nullopt : std::optional<SideListing::Ref>(sideB_.at(atB_));
    }

    std::string_view key;
    const BaselineEntry* base = nullptr;

private:
    const SideListing& sideA_;
    const SideListing& sideB_;
    const Baseline& baseline_;
    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t i_ = 0, j_ = 0, k_ = 0;
    std::size_t atA_ = none, atB_ = none;
};

}  // namespace kelto
