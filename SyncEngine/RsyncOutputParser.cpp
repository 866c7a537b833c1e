#include "SyncEngine/RsyncOutputParser.h"

#include <charconv>
#include <cstring>
#include <limits>

namespace kelto {

// The line grammars are matched by hand rather than with regular
// expressions: each pattern is deterministic (neighbouring parts never share
// a character), so one forward pass decides it, in linear time and without
// recursion on long lines.
//
// Character classes are ASCII: digits are 0-9 and white space is space, tab,
// vertical tab and form feed. Under LC_ALL=C rsync prints its numbers, dates
// and separators with printf, and escapes every byte of a name that is a
// control character or not ASCII as "\#ooo", so no other digit or space can
// reach a place where a class decides anything. Names (the rest of a line)
// are taken whole.

namespace {

constexpr std::string_view kDeletionPrefix = "*deleting   ";
constexpr std::string_view kDeletionCode = "*deleting  ";

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// A forward cursor over one line.
struct Cursor {
    std::string_view text;
    std::size_t pos = 0;

    bool atEnd() const { return pos == text.size(); }
    std::size_t remaining() const { return text.size() - pos; }

    bool literal(std::string_view s) {
        if (text.compare(pos, s.size(), s) != 0) return false;
        pos += s.size();
        return true;
    }
    // "x*" or "x+" of a class; returns how many were taken.
    template <class Pred>
    std::size_t many(Pred pred) {
        const std::size_t start = pos;
        while (pos < text.size() && pred(text[pos])) ++pos;
        return pos - start;
    }
    bool spaces() { return many(isSpace) > 0; }           // \s+
    std::string_view digits() {                            // \d+ (empty when none)
        const std::size_t start = pos;
        many(isDigit);
        return text.substr(start, pos - start);
    }
    bool exactDigits(std::size_t n, int& value) {  // \d{n}
        if (remaining() < n) return false;
        int v = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const char c = text[pos + i];
            if (!isDigit(c)) return false;
            v = v * 10 + (c - '0');
        }
        value = v;
        pos += n;
        return true;
    }
};

// Days from 1970-01-01 to the given proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

// A listing time: the seconds, or nothing known when rsync cut it short.
struct ListedTime {
    bool known = false;
    std::int64_t seconds = 0;
};

// rsync prints the time as "%4d/%02d/%02d %02d:%02d:%02d" into 19
// characters, read here as UTC: rsync runs with TZ=UTC0, so its wall clock
// is UTC and the reading does not depend on this machine's zone or on
// daylight-saving changes. A year of fewer than four characters comes
// right-aligned, its padding among the `spacesBefore` spaces the cursor has
// just passed; a longer one pushes the end of the time out of the 19
// characters, and only the time's shape can be checked; a time the C
// library cannot break down at all comes as a fixed text. Dates that do not
// exist are refused.
std::optional<ListedTime> readListingTime(Cursor& c, std::size_t spacesBefore) {
    constexpr std::size_t width = 19, yearWidth = 4;
    if (c.pos < c.text.size() && c.text[c.pos] == '(')
        return c.literal("(time out of range)") ? std::optional<ListedTime>(ListedTime{}) : std::nullopt;
    const std::size_t start = c.pos;
    const bool negative = c.literal("-");
    const std::string_view yearDigits = c.digits();
    // As printf writes a number: no leading zero, no "-0".
    if (yearDigits.empty() || (yearDigits.size() > 1 && yearDigits.front() == '0') || (negative && yearDigits == "0"))
        return std::nullopt;
    const std::size_t yearLength = c.pos - start;

    if (yearLength > yearWidth) {
        if (yearLength >= width || c.text.size() - start < width) return std::nullopt;
        constexpr std::string_view shape = "/00/00 00:00:00";  // 0: any digit
        const std::string_view rest = c.text.substr(c.pos, width - yearLength);
        for (std::size_t i = 0; i < rest.size(); ++i)
            if (shape[i] == '0' ? !isDigit(rest[i]) : rest[i] != shape[i]) return std::nullopt;
        c.pos = start + width;
        return ListedTime{};
    }

    if (spacesBefore < 1 + (yearWidth - yearLength)) return std::nullopt;
    int mo, d, h, mi, s;
    if (!(c.literal("/") && c.exactDigits(2, mo) && c.literal("/") && c.exactDigits(2, d) && c.literal(" ") &&
          c.exactDigits(2, h) && c.literal(":") && c.exactDigits(2, mi) && c.literal(":") && c.exactDigits(2, s)))
        return std::nullopt;
    int y = 0;
    for (char digit : yearDigits) y = y * 10 + (digit - '0');
    if (negative) y = -y;
    if (mo < 1 || mo > 12 || d < 1 || d > daysInMonth(y, mo) || h > 23 || mi > 59 || s > 59) return std::nullopt;
    return ListedTime{true, daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 +
                                mi * 60 + s};
}

// The "%l %b %n" part: length, transferred bytes (dropped), then the name whole.
bool readFields(std::string_view rest, std::int64_t& size, std::string& path) {
    const std::size_t first = rest.find(' ');
    if (first == std::string_view::npos) return false;
    const std::size_t second = rest.find(' ', first + 1);
    if (second == std::string_view::npos) return false;
    const auto length = RsyncOutputParser::readInteger(rest.substr(0, first));
    if (!length || !RsyncOutputParser::readInteger(rest.substr(first + 1, second - first - 1))) return false;
    size = *length;
    path = RsyncOutputParser::unescapeName(rest.substr(second + 1));
    return true;
}

bool oneOf(char c, std::string_view set) { return set.find(c) != std::string_view::npos; }

}  // namespace

std::vector<RsyncEvent> RsyncOutputParser::feed(std::string_view chunk) {
    std::vector<RsyncEvent> out;
    feed(chunk, [&](RsyncEvent&& e) { out.push_back(std::move(e)); });
    return out;
}

std::vector<RsyncEvent> RsyncOutputParser::finish() {
    std::vector<RsyncEvent> out;
    finish([&](RsyncEvent&& e) { out.push_back(std::move(e)); });
    return out;
}

std::optional<RsyncEvent> RsyncOutputParser::event(std::string_view line) const {
    if (mode == Mode::transfer) {
        if (auto change = itemizedChange(line)) return RsyncEvent::item(std::move(*change));
        if (auto sample = progressSample(line)) return RsyncEvent::progress(*sample);
    } else if (auto entry = listEntry(line)) {
        if (entry->path == ".") return std::nullopt;  // the listed folder itself
        return RsyncEvent::listEntry(std::move(*entry));
    }
    return RsyncEvent::diagnostic(std::string(line));
}

std::optional<ItemizedChange> RsyncOutputParser::itemizedChange(std::string_view line) {
    ItemizedChange change;
    if (line.starts_with(kDeletionPrefix)) {
        // A deletion is an item with or without the numeric fields.
        const std::string_view rest = line.substr(kDeletionPrefix.size());
        change.code = kDeletionCode;
        if (!readFields(rest, change.size, change.path)) {
            change.size = 0;
            change.path = unescapeName(rest);
        }
        return change;
    }
    if (line.size() < 13) return std::nullopt;
    for (std::size_t i = 0; i < 11; ++i)
        if (static_cast<unsigned char>(line[i]) >= 0x80) return std::nullopt;  // a code is 11 single-byte characters
    if (!oneOf(line[0], "<>ch.") || !oneOf(line[1], "fdLDS") || line[11] != ' ') return std::nullopt;
    if (!readFields(line.substr(12), change.size, change.path)) return std::nullopt;
    change.code.assign(line.substr(0, 11));
    return change;
}

std::optional<RsyncProgressSample> RsyncOutputParser::progressSample(std::string_view line) {
    // \s*(\d+)\s+(\d+)%\s+(\S+)\s+\d+:\d{2}:\d{2}(?:\s+\(xfr#\d+,\s+to-chk=(\d+)/\d+\))?\s*
    Cursor c{line};
    c.many(isSpace);
    const std::string_view bytesText = c.digits();
    if (bytesText.empty() || !c.spaces()) return std::nullopt;
    const std::string_view percentText = c.digits();
    if (percentText.empty() || !c.literal("%") || !c.spaces()) return std::nullopt;
    const std::size_t rateStart = c.pos;
    if (c.many([](char ch) { return !isSpace(ch); }) == 0) return std::nullopt;
    const std::string_view rateText = line.substr(rateStart, c.pos - rateStart);
    int unused;
    if (!c.spaces() || c.digits().empty() || !c.literal(":") || !c.exactDigits(2, unused) || !c.literal(":") ||
        !c.exactDigits(2, unused))
        return std::nullopt;

    std::optional<std::int64_t> toCheck;
    const std::size_t afterTime = c.pos;
    bool withCounters = false;
    if (c.spaces() && c.literal("(xfr#") && !c.digits().empty() && c.literal(",") && c.spaces() &&
        c.literal("to-chk=")) {
        const std::string_view toCheckText = c.digits();
        if (!toCheckText.empty() && c.literal("/") && !c.digits().empty() && c.literal(")")) {
            c.many(isSpace);
            if (c.atEnd()) {
                withCounters = true;
                toCheck = readInteger(toCheckText);
            }
        }
    }
    if (!withCounters) {
        c.pos = afterTime;
        c.many(isSpace);
        if (!c.atEnd()) return std::nullopt;
    }

    const auto bytes = readInteger(bytesText);
    const auto percent = readInteger(percentText);
    if (!bytes || !percent) return std::nullopt;
    return RsyncProgressSample{*bytes, *percent, rate(rateText), toCheck};
}

std::optional<double> RsyncOutputParser::rate(std::string_view text) {
    // (\d+(?:\.\d+)?)([kKMGTPE]?)[bB]/s
    Cursor c{text};
    if (c.digits().empty()) return std::nullopt;
    if (c.literal(".") && c.digits().empty()) return std::nullopt;
    const std::string_view number = text.substr(0, c.pos);
    int shift = 0;
    if (!c.atEnd()) {
        switch (text[c.pos]) {
            case 'k': case 'K': shift = 10; break;
            case 'M': shift = 20; break;
            case 'G': shift = 30; break;
            case 'T': shift = 40; break;
            case 'P': shift = 50; break;
            case 'E': shift = 60; break;
            default: break;
        }
        if (shift != 0) ++c.pos;
    }
    if (c.atEnd() || (text[c.pos] != 'b' && text[c.pos] != 'B')) return std::nullopt;
    ++c.pos;
    if (!c.literal("/s") || !c.atEnd()) return std::nullopt;

    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
    return value * static_cast<double>(std::uint64_t{1} << shift);
}

std::optional<ListEntry> RsyncOutputParser::listEntry(std::string_view line) {
    // ([bcdlps-][rwxstST-]{9})\s+(\d+)\s+(time) (.*), the time as readListingTime reads it
    if (line.size() < 10 || !oneOf(line[0], "bcdlps-")) return std::nullopt;
    for (std::size_t i = 1; i < 10; ++i)
        if (!oneOf(line[i], "rwxstST-")) return std::nullopt;
    Cursor c{line, 10};
    if (!c.spaces()) return std::nullopt;
    const std::string_view sizeText = c.digits();
    if (sizeText.empty()) return std::nullopt;
    const std::size_t spaces = c.many(isSpace);
    if (spaces == 0) return std::nullopt;
    const auto time = readListingTime(c, spaces);
    if (!time || !c.literal(" ")) return std::nullopt;
    const auto size = readInteger(sizeText);
    if (!size) return std::nullopt;

    ListEntry entry;
    entry.size = *size;
    entry.mtime = time->seconds;
    entry.timeKnown = time->known;
    switch (line[0]) {
        case '-': entry.kind = EntryKind::file; break;
        case 'd': entry.kind = EntryKind::directory; break;
        case 'l': entry.kind = EntryKind::symlink; break;
        default: entry.kind = EntryKind::other; break;
    }
    entry.path = unescapeName(line.substr(c.pos));
    if (entry.kind == EntryKind::symlink) {
        // "name -> target" with the target's byte length as the size: split
        // counting from the end, so a link whose own name holds " -> " is
        // still cut in the right place.
        const auto n = static_cast<std::int64_t>(entry.path.size());
        if (n - 4 < entry.size) return std::nullopt;
        const auto cut = static_cast<std::size_t>(n - entry.size - 4);
        if (entry.path.compare(cut, 4, " -> ") != 0) return std::nullopt;
        entry.path.resize(cut);
    }
    return entry;
}

std::optional<std::string> RsyncOutputParser::passedOverPath(std::string_view line) {
    constexpr std::string_view prefix = "skipping non-regular file \"";
    // The name is printed between the quotes as it is, quotes in it included.
    if (!line.starts_with(prefix) || line.size() < prefix.size() + 2 || !line.ends_with('"')) return std::nullopt;
    return unescapeName(line.substr(prefix.size(), line.size() - prefix.size() - 1));
}

std::vector<std::string> RsyncOutputParser::quotedPaths(std::string_view line, std::string_view source,
                                                        std::string_view destination) {
    std::vector<std::string> paths;
    for (std::size_t start = line.find('"'); start != std::string_view::npos;) {
        const std::size_t close = line.find('"', start + 1);
        std::string path = unescapeName(
            line.substr(start + 1, close == std::string_view::npos ? std::string_view::npos : close - start - 1));
        std::string_view relative = path;
        if (!source.empty() && relative.starts_with(source))
            relative.remove_prefix(source.size());
        else if (!destination.empty() && relative.starts_with(destination))
            relative.remove_prefix(destination.size());
        if (relative.starts_with("./")) relative.remove_prefix(2);
        paths.emplace_back(relative);
        if (close == std::string_view::npos) break;
        start = line.find('"', close + 1);
    }
    return paths;
}

std::string RsyncOutputParser::unescapeName(std::string_view text) {
    std::size_t i = text.find("\\#");
    if (i == std::string_view::npos) return std::string(text);
    auto octal = [](char c, char max) { return c >= '0' && c <= max; };
    std::string out;
    out.reserve(text.size());
    out.append(text.substr(0, i));
    while (i < text.size()) {
        if (text[i] == '\\' && i + 4 < text.size() && text[i + 1] == '#' && octal(text[i + 2], '3') &&
            octal(text[i + 3], '7') && octal(text[i + 4], '7')) {
            out.push_back(static_cast<char>((text[i + 2] - '0') * 64 + (text[i + 3] - '0') * 8 + (text[i + 4] - '0')));
            i += 5;
        } else {
            out.push_back(text[i]);
            ++i;
        }
    }
    return out;
}

std::optional<std::int64_t> RsyncOutputParser::readInteger(std::string_view text) {
    std::size_t i = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) i = 1;
    if (i == text.size()) return std::nullopt;
    for (std::size_t k = i; k < text.size(); ++k)
        if (!isDigit(text[k])) return std::nullopt;
    // from_chars takes a "-" but not a "+".
    if (text[0] == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace kelto
