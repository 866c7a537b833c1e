#include "tests/support/RsyncLines.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace kelto::test {

std::string RsyncLines::listed(EntryKind kind, std::int64_t size, std::int64_t mtime, std::string_view name) {
    const char* mode = kind == EntryKind::directory ? "drwxr-xr-x" : "-rw-r--r--";
    const std::time_t time = static_cast<std::time_t>(mtime);
    std::tm utc{};
    ::gmtime_r(&time, &utc);
    char fields[96];
    std::snprintf(fields, sizeof fields, "%s %11" PRId64 " %4d/%02d/%02d %02d:%02d:%02d ", mode, size,
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return fields + std::string(name) + "\n";
}

std::string RsyncLines::itemized(std::string_view code, std::int64_t size, std::string_view name) {
    return std::string(code) + " " + std::to_string(size) + " 0 " + std::string(name) + "\n";
}

std::string RsyncLines::progress(std::int64_t bytes, int percent) {
    char line[96];
    std::snprintf(line, sizeof line, "%15" PRId64 " %3d%%    0.00kB/s    0:00:00\r", bytes, percent);
    return line;
}

}  // namespace kelto::test
