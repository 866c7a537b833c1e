#pragma once

#include "SyncModel/Support/EntryKind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace kelto {

// One version of an item, as a look at it found it, and the one rule for
// whether two looks show the same item. A run drops what it replaces or
// deletes only while it is still the version its plan saw; approval is for
// that version, never for whatever stands at the path.
struct ItemVersion {
    EntryKind kind = EntryKind::file;
    std::int64_t size = 0;   // never compared for a folder
    std::int64_t mtime = 0;  // whole seconds
    // Known where the look read the item itself rather than a listing.
    std::optional<std::int64_t> mtimeNanoseconds;
    std::optional<std::uint64_t> device;
    std::optional<std::uint64_t> fileNumber;
    // The last status change, known from an lstat: no user can set it.
    std::optional<std::int64_t> changed;
    std::optional<std::int64_t> changedNanoseconds;

    // How much of an item must agree for two looks to show one version.
    enum class Strictness {
        listed,  // kind, whole-second time and (but for a folder) size: what a listing shows
        // and the time's fraction where both looks saw one, and the file
        // number where both saw one on the same file system: a rename keeps
        // both, a copy across file systems (rsync holding an item from a
        // mount below the folder) keeps the time, not the number
        seen,
        // the very item, whatever was written to it since: one file system,
        // one number (a file grown in place is still the item a look saw)
        item,
        // the very item, untouched: one file system, one number, size and
        // time to the nanosecond (a rename changes its status time)
        untouched,
        // the very item, nothing done to it since: one file system, one
        // number and, but for a folder (whose times change as its items go),
        // size, time and status-change time to the nanosecond
        unchanged,
        // alike in all an lstat tells but the number: kind, size, time and
        // status-change time to the nanosecond (two names a FUSE file system
        // numbers afresh may reach one item)
        alike,
        // what rsync makes of the other: kind and size, time within the
        // window (a link's time is not always kept); never a folder, whose
        // look covers it alone, not what was put or changed inside it since
        copy,
    };
    bool same(const ItemVersion& other, Strictness strictness, std::int64_t window = 0) const;

    // The kind an lstat's mode shows.
    static EntryKind kindOf(mode_t mode);
    // The version an lstat shows; the file number only where `keepsFileNumbers`
    // (FileSystemCapabilities::fileNumbersLast).
    static ItemVersion of(const struct stat& item, bool keepsFileNumbers);
    // The version a listing shows: no file number, whole seconds.
    static ItemVersion listed(EntryKind kind, std::int64_t size, std::int64_t mtime);

    friend bool operator==(const ItemVersion&, const ItemVersion&) = default;
};

}  // namespace kelto
