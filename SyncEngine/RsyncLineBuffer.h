#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

// Cuts a byte stream into lines at LF or CR. Empty lines are dropped, so CRLF
// and runs of CR end one line. Each line is decoded as UTF-8 with every
// invalid sequence replaced by U+FFFD; a line or a character split across
// chunks is joined before it is decoded.
struct RsyncLineBuffer {
    std::string pending;  // bytes after the last line end; never holds LF or CR

    // The complete lines the chunk ends, in order.
    std::vector<std::string> append(std::string_view chunk);

    // Calls onLine(std::string_view) once per complete line, in order, without
    // allocating for lines that are valid UTF-8 and lie within the chunk. The
    // view is valid only during the call.
    template <class OnLine>
    void append(std::string_view chunk, OnLine&& onLine);

    // The pending bytes as a last line, if any; empties the buffer.
    std::optional<std::string> flush();

    // Lossy UTF-8 decoding of one line, calling onLine with the result.
    template <class OnLine>
    static void decodeLine(std::string_view bytes, OnLine&& onLine);

    static bool isValidUtf8(std::string_view bytes);
    static std::string decode(std::string_view bytes);
};

template <class OnLine>
void RsyncLineBuffer::decodeLine(std::string_view bytes, OnLine&& onLine) {
    if (isValidUtf8(bytes)) {
        onLine(bytes);
    } else {
        const std::string decoded = decode(bytes);
        onLine(std::string_view(decoded));
    }
}

template <class OnLine>
void RsyncLineBuffer::append(std::string_view chunk, OnLine&& onLine) {
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    // Next LF and CR at or after p; a null end means none in the rest of the chunk.
    const char* nextLF = nullptr;
    const char* nextCR = nullptr;
    bool lfKnown = false, crKnown = false;
    while (p < end) {
        if (!lfKnown || (nextLF && nextLF < p)) {
            nextLF = static_cast<const char*>(std::char_traits<char>::find(p, static_cast<std::size_t>(end - p), '\n'));
            lfKnown = true;
        }
        if (!crKnown || (nextCR && nextCR < p)) {
            nextCR = static_cast<const char*>(std::char_traits<char>::find(p, static_cast<std::size_t>(end - p), '\r'));
            crKnown = true;
        }
        const char* lineEnd = nextLF;
        if (!lineEnd || (nextCR && nextCR < lineEnd)) lineEnd = nextCR;
        if (!lineEnd) break;

        const std::string_view segment(p, static_cast<std::size_t>(lineEnd - p));
        if (pending.empty()) {
            if (!segment.empty()) decodeLine(segment, onLine);
        } else {
            pending.append(segment);
            decodeLine(std::string_view(pending), onLine);
            pending.clear();
        }
        p = lineEnd + 1;
    }
    if (p < end) pending.append(p, static_cast<std::size_t>(end - p));
}

}  // namespace kelto
