#pragma once

#include "SyncModel/Support/Json.h"

#include <array>
#include <string_view>

namespace kelto {

// What an item on disk is, as a listing or an lstat tells.
enum class EntryKind { file, directory, symlink, other };
template <>
struct EnumNames<EntryKind> {
    static constexpr std::array<std::string_view, 4> names{"file", "directory", "symlink", "other"};
};

template <>
struct JsonCodec<EntryKind> {
    static Json encode(EntryKind value) { return encodeEnum(value); }
    static EntryKind decode(const JsonIn& in) { return in.enumeration<EntryKind>(); }
};

}  // namespace kelto
