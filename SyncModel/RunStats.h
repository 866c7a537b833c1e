#pragma once

#include "SyncModel/Support/Json.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelto {

// timeOutOfRange: the file's modification time is one the listing cannot
// show whole, or one the receiving file system cannot keep.
// specialFile: a pipe, socket or device, which rsync never copies.
// nameNotAllowed: a name (its own or a folder's above it) the receiving
// file system cannot hold.
// normalisationTwin: one of two names that differ only in Unicode
// normalisation (composed against decomposed accents), which the receiving
// side, or the run's comparison, takes for one.
enum class FileSkipReason {
    tooLargeForFAT,
    caseCollision,
    typeConflict,
    timeOutOfRange,
    specialFile,
    nameNotAllowed,
    normalisationTwin,
};
template <>
struct EnumNames<FileSkipReason> {
    static constexpr std::array<std::string_view, 7> names{"tooLargeForFAT",    "caseCollision", "typeConflict",
                                                           "timeOutOfRange",    "specialFile",   "nameNotAllowed",
                                                           "normalisationTwin"};
};

// A file the run left alone, and why.
struct SkippedFile {
    std::string path;
    FileSkipReason reason = FileSkipReason::tooLargeForFAT;
    friend bool operator==(const SkippedFile&, const SkippedFile&) = default;
};

struct RunStats {
    std::int64_t filesCopied = 0;
    std::int64_t bytesCopied = 0;
    std::int64_t filesArchived = 0;
    std::vector<SkippedFile> skipped;
    std::vector<std::string> errors;  // in the order they arose
    friend bool operator==(const RunStats&, const RunStats&) = default;
};

template <>
struct JsonCodec<SkippedFile> {
    static Json encode(const SkippedFile& value);
    static SkippedFile decode(const JsonIn& in);
};

template <>
struct JsonCodec<RunStats> {
    static Json encode(const RunStats& value);
    static RunStats decode(const JsonIn& in);
};

}  // namespace kelto
