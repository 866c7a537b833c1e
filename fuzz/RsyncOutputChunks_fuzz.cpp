// rsync's output cut into chunks anywhere gives the same lines and the same
// events as the whole output fed at once: for the line buffer alone and for
// the parser in each of its modes. The cut points come from the end of the
// input, the output from its front.
#include "SyncEngine/RsyncLineBuffer.h"
#include "SyncEngine/RsyncOutputParser.h"
#include "SyncModel/Support/Unicode.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace kelto;

namespace {

struct Chunks {
    std::vector<std::string_view> pieces;
    std::vector<bool> throughCallback;  // per piece: which append/feed overload takes it
};

Chunks cut(std::string_view stream, std::vector<std::uint32_t> points) {
    Chunks out;
    for (auto& p : points) p %= static_cast<std::uint32_t>(stream.size() + 1);
    std::vector<std::uint32_t> sorted = points;
    std::sort(sorted.begin(), sorted.end());
    std::size_t start = 0;
    for (std::size_t i = 0; i <= sorted.size(); ++i) {
        const std::size_t end = i < sorted.size() ? sorted[i] : stream.size();
        out.pieces.push_back(stream.substr(start, end - start));  // empty pieces too
        out.throughCallback.push_back(i < points.size() ? (points[i] & 1) != 0 : false);
        start = end;
    }
    return out;
}

std::vector<std::string> linesOf(const Chunks& chunks) {
    RsyncLineBuffer buffer;
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < chunks.pieces.size(); ++i) {
        if (chunks.throughCallback[i]) {
            buffer.append(chunks.pieces[i], [&](std::string_view line) { lines.emplace_back(line); });
        } else {
            for (std::string& line : buffer.append(chunks.pieces[i])) lines.push_back(std::move(line));
        }
    }
    if (auto last = buffer.flush()) lines.push_back(std::move(*last));
    KELTO_FUZZ_CHECK(buffer.pending.empty());
    return lines;
}

std::vector<RsyncEvent> eventsOf(RsyncOutputParser::Mode mode, const Chunks& chunks) {
    RsyncOutputParser parser(mode);
    std::vector<RsyncEvent> events;
    const auto sink = [&](RsyncEvent&& e) { events.push_back(std::move(e)); };
    for (std::size_t i = 0; i < chunks.pieces.size(); ++i) {
        if (chunks.throughCallback[i]) {
            parser.feed(chunks.pieces[i], sink);
        } else {
            for (RsyncEvent& e : parser.feed(chunks.pieces[i])) events.push_back(std::move(e));
        }
    }
    if (chunks.pieces.size() % 2 == 0) {
        parser.finish(sink);
    } else {
        for (RsyncEvent& e : parser.finish()) events.push_back(std::move(e));
    }
    return events;
}

bool sameEvents(const std::vector<RsyncEvent>& a, const std::vector<RsyncEvent>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(a[i].payload == b[i].payload)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::uint32_t> points(input.ConsumeIntegralInRange<std::size_t>(0, 12));
    for (auto& p : points) p = input.ConsumeIntegral<std::uint32_t>();
    const std::string stream = input.ConsumeRemainingBytesAsString();

    const Chunks whole = cut(stream, {});
    const Chunks pieces = cut(stream, points);

    const std::vector<std::string> lines = linesOf(whole);
    KELTO_FUZZ_CHECK(linesOf(pieces) == lines);
    // Lines are non-empty, hold no line end and are valid UTF-8; a valid
    // stream comes back whole once its line ends are dropped.
    std::string joined;
    for (const std::string& line : lines) {
        KELTO_FUZZ_CHECK(!line.empty());
        KELTO_FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
        KELTO_FUZZ_CHECK(Unicode::isValidUtf8(line));
        joined += line;
    }
    if (Unicode::isValidUtf8(stream)) {
        std::string expected = stream;
        std::erase_if(expected, [](char c) { return c == '\r' || c == '\n'; });
        KELTO_FUZZ_CHECK(joined == expected);
    }

    for (const auto mode : {RsyncOutputParser::Mode::transfer, RsyncOutputParser::Mode::listOnly}) {
        const std::vector<RsyncEvent> events = eventsOf(mode, whole);
        KELTO_FUZZ_CHECK(sameEvents(eventsOf(mode, pieces), events));
        // At most one event per line; only the listed folder's "." has none.
        KELTO_FUZZ_CHECK(events.size() <= lines.size());
        if (mode == RsyncOutputParser::Mode::transfer) KELTO_FUZZ_CHECK(events.size() == lines.size());
    }
    return 0;
}
