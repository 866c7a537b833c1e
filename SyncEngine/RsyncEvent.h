#pragma once

#include "SyncModel/Support/EntryKind.h"
#include "SyncModel/Support/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kelto {

// One entry of a recursive listing.
struct ListEntry {
    EntryKind kind = EntryKind::file;
    std::int64_t size = 0;   // for a symbolic link: its target's length in bytes
    std::int64_t mtime = 0;  // seconds since 1970-01-01 00:00:00 UTC
    std::string path;        // the name's bytes exactly as on disk; a link's own name without its target
    // False when rsync printed the time cut short (a year of five or more
    // characters): the time is then unknown and mtime is 0.
    bool timeKnown = true;

    friend bool operator==(const ListEntry&, const ListEntry&) = default;
};

// One itemised-change line.
struct ItemizedChange {
    std::string code;  // 11 characters as printed; deletions are "*deleting" and two spaces
    std::int64_t size = 0;
    std::string path;  // the name's bytes exactly as on disk; directories keep their final "/"

    friend bool operator==(const ItemizedChange&, const ItemizedChange&) = default;
};

// One whole-transfer progress line.
struct RsyncProgressSample {
    std::int64_t bytes = 0;
    std::int64_t percent = 0;
    std::optional<double> bytesPerSecond;
    std::optional<std::int64_t> toCheckRemaining;

    friend bool operator==(const RsyncProgressSample&, const RsyncProgressSample&) = default;
};

// What one line of rsync's output means. Moves cheaply: one variant, no heap
// beyond the strings it carries.
struct RsyncEvent {
    enum class Kind { progress, item, listEntry, diagnostic };

    std::variant<RsyncProgressSample, ItemizedChange, ListEntry, std::string> payload;

    static RsyncEvent progress(RsyncProgressSample sample) {
        return RsyncEvent{decltype(payload)(std::in_place_index<0>, std::move(sample))};
    }
    static RsyncEvent item(ItemizedChange change) {
        return RsyncEvent{decltype(payload)(std::in_place_index<1>, std::move(change))};
    }
    static RsyncEvent listEntry(ListEntry entry) {
        return RsyncEvent{decltype(payload)(std::in_place_index<2>, std::move(entry))};
    }
    static RsyncEvent diagnostic(std::string line) {
        return RsyncEvent{decltype(payload)(std::in_place_index<3>, std::move(line))};
    }

    Kind kind() const { return static_cast<Kind>(payload.index()); }

    // The payload when the event is of that kind, else null.
    const RsyncProgressSample* asProgress() const { return std::get_if<0>(&payload); }
    const ItemizedChange* asItem() const { return std::get_if<1>(&payload); }
    const ListEntry* asListEntry() const { return std::get_if<2>(&payload); }
    const std::string* asDiagnostic() const { return std::get_if<3>(&payload); }
    RsyncProgressSample* asProgress() { return std::get_if<0>(&payload); }
    ItemizedChange* asItem() { return std::get_if<1>(&payload); }
    ListEntry* asListEntry() { return std::get_if<2>(&payload); }
    std::string* asDiagnostic() { return std::get_if<3>(&payload); }
};

}  // namespace kelto
