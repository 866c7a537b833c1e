// rsync prints names with "\#ooo" escapes; reading them back gives the name's
// bytes, alone, in an itemised-change line and in listing lines, a link's
// "name -> target" included. The escaper follows rsync's manual: under
// LC_ALL=C every control byte but tab and every byte that is not printable
// ASCII is written as "\#" and three octal digits; a backslash is escaped
// only when "#" and three decimal digits follow it.
#include "SyncEngine/RsyncOutputParser.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <string>

using namespace kelto;

namespace {

bool isDecimal(char c) { return c >= '0' && c <= '9'; }

std::string rsyncEscaped(std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const bool backslashBeforeCode = byte == '\\' && i + 4 < name.size() && name[i + 1] == '#' &&
                                         isDecimal(name[i + 2]) && isDecimal(name[i + 3]) && isDecimal(name[i + 4]);
        const bool unprintable = byte != '\t' && (byte < 0x20 || byte >= 0x7f);
        if (backslashBeforeCode || unprintable) {
            char code[8];
            std::snprintf(code, sizeof code, "\\#%03o", byte);
            out += code;
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const bool asLink = input.ConsumeBool();
    const std::string name = input.ConsumeRandomLengthString(4096);
    const std::string target = input.ConsumeRemainingBytesAsString();

    const std::string escaped = rsyncEscaped(name);
    KELTO_FUZZ_CHECK(escaped.find_first_of("\r\n") == std::string::npos);  // one name, one line
    KELTO_FUZZ_CHECK(RsyncOutputParser::unescapeName(escaped) == name);
    // Text without escapes is left alone.
    if (name.find("\\#") == std::string::npos) KELTO_FUZZ_CHECK(RsyncOutputParser::unescapeName(name) == name);

    const auto item = RsyncOutputParser::itemizedChange(">f+++++++++ 12 0 " + escaped);
    KELTO_FUZZ_CHECK(item && item->path == name && item->size == 12);
    const auto deletion = RsyncOutputParser::itemizedChange("*deleting   0 0 " + escaped);
    KELTO_FUZZ_CHECK(deletion && deletion->path == name);

    if (!asLink) {
        const auto entry = RsyncOutputParser::listEntry("-rw-r--r--           3 2023/11/14 22:13:20 " + escaped);
        KELTO_FUZZ_CHECK(entry && entry->kind == EntryKind::file && entry->path == name && entry->size == 3);
    } else {
        // The size of a link is its target's length: the cut is made from the
        // end, so " -> " inside the name or the target cannot mislead it.
        const std::string line = "lrwxrwxrwx " + std::to_string(target.size()) + " 2023/11/14 22:13:20 " + escaped +
                                 " -> " + rsyncEscaped(target);
        const auto entry = RsyncOutputParser::listEntry(line);
        KELTO_FUZZ_CHECK(entry && entry->kind == EntryKind::symlink && entry->path == name);
    }
    return 0;
}
