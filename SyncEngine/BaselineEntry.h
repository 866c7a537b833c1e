#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncModel/Support/Json.h"

#include <cstdint>

namespace kelto {

// The state of one path when both sides were last in step.
struct BaselineEntry {
    EntryKind kind = EntryKind::file;
    std::int64_t size = 0;
    std::int64_t mtime = 0;

    friend bool operator==(const BaselineEntry&, const BaselineEntry&) = default;
};

template <>
struct JsonCodec<BaselineEntry> {
    static Json encode(const BaselineEntry& value);
    static BaselineEntry decode(const JsonIn& in);
};

}  // namespace kelto
