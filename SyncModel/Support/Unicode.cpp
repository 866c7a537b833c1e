#include "SyncModel/Support/Unicode.h"

#include <utf8proc.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kelto::Unicode {

bool isAscii(std::string_view text) {
    // Eight bytes at a time: most path names are ASCII and asked about often.
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull) return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) >= 0x80) return false;
    return true;
}

namespace {
// Length of the well-formed sequence at p, or, as a negative number, the
// length of its maximal ill-formed subpart (which gets one U+FFFD).
long sequenceAt(const unsigned char* p, std::size_t remaining) {
    const unsigned char b = p[0];
    if (b < 0x80) return 1;
    int need;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) need = 1;
    else if (b == 0xE0) { need = 2; lo = 0xA0; }
    else if (b == 0xED) { need = 2; hi = 0x9F; }
    else if (b >= 0xE1 && b <= 0xEF) need = 2;
    else if (b == 0xF0) { need = 3; lo = 0x90; }
    else if (b == 0xF4) { need = 3; hi = 0x8F; }
    else if (b >= 0xF1 && b <= 0xF3) need = 3;
    else return -1;
    std::size_t i = 1;
    for (; i <= static_cast<std::size_t>(need); ++i) {
        if (i >= remaining) return -static_cast<long>(i);
        const unsigned char c = p[i];
        if (c < lo || c > hi) return -static_cast<long>(i);
        lo = 0x80;
        hi = 0xBF;
    }
    return static_cast<long>(i);
}
}  // namespace

bool isValidUtf8(std::string_view text) {
    auto p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t remaining = text.size();
    while (remaining > 0) {
        if (*p < 0x80) {
            ++p;
            --remaining;
            continue;
        }
        long n = sequenceAt(p, remaining);
        if (n < 0) return false;
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string nfc(std::string_view text) {
    if (isAscii(text)) return std::string(text);
    utf8proc_uint8_t* out = nullptr;
    utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                      static_cast<utf8proc_ssize_t>(text.size()), &out,
                                      static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (n < 0) return std::string(text);
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(out, &std::free);
    return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n));
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    return nfc(a) == nfc(b);
}

namespace {
void appendUtf8(std::string& out, utf8proc_int32_t codePoint) {
    utf8proc_uint8_t buffer[4];
    const auto n = utf8proc_encode_char(codePoint, buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}
}  // namespace

std::string caseFolded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    if (isAscii(text) || !isValidUtf8(text)) {
        for (char c : text) out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
        return out;
    }
    auto p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        p += n;
        left -= n;
        if (c == 0x0130) {
            appendUtf8(out, 0x0069);
            appendUtf8(out, 0x0307);
        } else {
            appendUtf8(out, utf8proc_tolower(utf8proc_toupper(c)));
        }
    }
    return nfc(out);
}

std::string decodeLossy(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t remaining = bytes.size();
    while (remaining > 0) {
        long n = sequenceAt(p, remaining);
        if (n < 0) {
            out += "\xEF\xBF\xBD";
            n = -n;
        } else {
            out.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
        }
        p += n;
        remaining -= static_cast<std::size_t>(n);
    }
    return out;
}

namespace {
bool isWhitespaceAt(std::string_view text, std::size_t pos, std::size_t& length) {
    auto p = reinterpret_cast<const utf8proc_uint8_t*>(text.data() + pos);
    utf8proc_int32_t cp;
    utf8proc_ssize_t n = utf8proc_iterate(p, static_cast<utf8proc_ssize_t>(text.size() - pos), &cp);
    if (n <= 0) return false;
    length = static_cast<std::size_t>(n);
    switch (cp) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
        case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return cp >= 0x2000 && cp <= 0x200A;
    }
}
}  // namespace

std::string_view trimWhitespace(std::string_view text) {
    std::size_t start = 0;
    std::size_t length = 0;
    while (start < text.size() && isWhitespaceAt(text, start, length)) start += length;
    std::size_t end = text.size();
    while (end > start) {
        // Step back to the start of the last code point.
        std::size_t begin = end - 1;
        while (begin > start && (static_cast<unsigned char>(text[begin]) & 0xC0) == 0x80) --begin;
        if (!isWhitespaceAt(text, begin, length) || begin + length != end) break;
        end = begin;
    }
    return text.substr(start, end - start);
}

}  // namespace kelto::Unicode
