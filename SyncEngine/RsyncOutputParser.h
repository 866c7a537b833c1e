#pragma once

#include "SyncEngine/RsyncEvent.h"
#include "SyncEngine/RsyncLineBuffer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelto {

// Turns rsync's standard output into events. A transfer parser knows the
// itemised-change line ("--out-format=%i %l %b %n") and the whole-transfer
// progress line; a listing parser knows the "--list-only" line. Every other
// non-empty line is a diagnostic. One parser serves one run, on one thread.
struct RsyncOutputParser {
    enum class Mode { transfer, listOnly };

    Mode mode;
    RsyncLineBuffer lines;

    explicit RsyncOutputParser(Mode mode) : mode(mode) {}

    // The events of all lines the chunk completes, in line order.
    std::vector<RsyncEvent> feed(std::string_view chunk);

    // Calls sink(RsyncEvent&&) per event, in line order, without a vector.
    template <class Sink>
    void feed(std::string_view chunk, Sink&& sink) {
        lines.append(chunk, [&](std::string_view line) {
            if (auto e = event(line)) sink(std::move(*e));
        });
    }

    // At the end of the stream: the event of the unterminated last line, if any.
    std::vector<RsyncEvent> finish();

    template <class Sink>
    void finish(Sink&& sink) {
        if (auto line = lines.flush())
            if (auto e = event(*line)) sink(std::move(*e));
    }

    // The event for one complete, decoded line (without its line end); none
    // only for the listed folder's own entry ".".
    std::optional<RsyncEvent> event(std::string_view line) const;

    // The grammars one by one, for callers that hold a single line.
    static std::optional<ItemizedChange> itemizedChange(std::string_view line);
    static std::optional<RsyncProgressSample> progressSample(std::string_view line);
    static std::optional<double> rate(std::string_view text);
    // Accepts "." too; event() is what drops it.
    static std::optional<ListEntry> listEntry(std::string_view line);

    // The path, unescaped, of rsync's line for a pipe, socket or device that
    // it passes over (it is never given --devices nor --specials); none for
    // any other line.
    static std::optional<std::string> passedOverPath(std::string_view line);

    // The paths a diagnostic quotes (every second piece between double
    // quotes, a last one without its closing quote too), unescaped; one
    // below `source` or `destination` (each a folder and "/") relative to
    // it, and without a leading "./".
    static std::vector<std::string> quotedPaths(std::string_view line, std::string_view source,
                                                std::string_view destination);

    // Reverses rsync's "\#ooo" escapes into the bytes they stand for. The
    // result is the name's bytes as the file system holds them, which need
    // not be valid UTF-8.
    static std::string unescapeName(std::string_view text);

    // Optional sign and one or more ASCII digits, within the signed 64-bit range.
    static std::optional<std::int64_t> readInteger(std::string_view text);
};

template <>
struct EnumNames<RsyncOutputParser::Mode> {
    static constexpr std::array<std::string_view, 2> names{"transfer", "listOnly"};
};

}  // namespace kelto
