// The preflight exclude file: each skipped path becomes one NUL-ended rule
// that rsync's pattern matching reads as exactly that path, anchored at the
// transfer root. The reading follows rsync's manual: a leading "/" anchors, a
// trailing "/" limits the rule to folders; a pattern with none of "*", "?"
// and "[" is compared literally, backslashes included; otherwise a backslash
// makes the next character literal and an unescaped "*", "?" or "[" is a
// wildcard, which a literal path must never meet.
#include "SyncEngine/PreflightSkips.h"
#include "fuzz/FuzzSupport.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using namespace kelto;

namespace {

struct Rule {
    bool anchored = false;
    bool foldersOnly = false;
    std::string literal;  // what the rule matches, when it holds no wildcard
    bool wildcard = false;
};

Rule read(std::string_view pattern) {
    Rule rule;
    if (pattern.starts_with('/')) {
        rule.anchored = true;
        pattern.remove_prefix(1);
    }
    if (pattern.size() > 1 && pattern.ends_with('/')) {
        rule.foldersOnly = true;
        pattern.remove_suffix(1);
    }
    if (pattern.find_first_of("*?[") == std::string_view::npos) {
        rule.literal = std::string(pattern);
        return rule;
    }
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            rule.literal.push_back(pattern[++i]);
        } else if (c == '*' || c == '?' || c == '[') {
            rule.wildcard = true;
            rule.literal.push_back(c);
        } else {
            rule.literal.push_back(c);
        }
    }
    return rule;
}

// A path as rsync could report it: relative, without NUL, empty, "." or ".."
// pieces; a folder may end in "/".
bool plausible(std::string_view path) {
    if (path.empty() || path.starts_with('/') || path.find('\0') != std::string_view::npos) return false;
    if (path.ends_with('/')) path.remove_suffix(1);
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        const std::string_view piece = path.substr(start, slash == std::string_view::npos ? path.npos : slash - start);
        if (piece.empty() || piece == "." || piece == "..") return false;
        if (slash == std::string_view::npos) return true;
        start = slash + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<SkippedFile> skipped;
    while (input.remaining_bytes() > 0 && skipped.size() < 16) {
        std::string path = input.ConsumeRandomLengthString(1024);
        if (plausible(path)) skipped.push_back(SkippedFile{std::move(path), FileSkipReason::caseCollision});
    }

    const std::string contents = PreflightSkips::excludeFileContents(skipped);
    KELTO_FUZZ_CHECK(contents.empty() || contents.back() == '\0');
    std::vector<std::string_view> rules;
    for (std::size_t start = 0; start < contents.size();) {
        const std::size_t end = contents.find('\0', start);
        rules.push_back(std::string_view(contents).substr(start, end - start));
        start = end + 1;
    }
    KELTO_FUZZ_CHECK(rules.size() == skipped.size());
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const Rule rule = read(rules[i]);
        std::string_view path = skipped[i].path;
        const bool folder = path.ends_with('/');
        if (folder) path.remove_suffix(1);
        KELTO_FUZZ_CHECK(rule.anchored);
        KELTO_FUZZ_CHECK(!rule.wildcard);
        KELTO_FUZZ_CHECK(rule.foldersOnly == folder);
        KELTO_FUZZ_CHECK(rule.literal == path);
    }
    return 0;
}
