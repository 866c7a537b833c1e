#include "SyncModel/Support/Url.h"

#include <cctype>

namespace kelto {

namespace {
bool isSchemeChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}
bool isUrlChar(char c) {
    if (std::isalnum(static_cast<unsigned char>(c))) return true;
    switch (c) {
        // unreserved, gen-delims and sub-delims of RFC 3986
        case '-': case '.': case '_': case '~':
        case ':': case '/': case '?': case '#': case '[': case ']': case '@':
        case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';': case '=':
            return true;
        default:
            return false;
    }
}
bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// The authority after "scheme://", up to the path.
std::string_view authority(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return {};
    std::string_view rest = text.substr(colon + 1);
    if (rest.substr(0, 2) != "//") return {};
    rest.remove_prefix(2);
    return rest.substr(0, rest.find_first_of("/?#"));
}
}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i)
        if (!isSchemeChar(text[i])) return std::nullopt;
    for (std::size_t i = colon + 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
            i += 2;
        } else if (!isUrlChar(c)) {
            return std::nullopt;
        }
    }
    return Url(std::string(text));
}

std::string Url::scheme() const { return text_.substr(0, text_.find(':')); }

std::string Url::host() const {
    std::string_view a = authority(text_);
    if (const auto at = a.rfind('@'); at != std::string_view::npos) a.remove_prefix(at + 1);
    if (!a.empty() && a.front() == '[') return std::string(a.substr(0, a.find(']') + 1));
    return std::string(a.substr(0, a.find(':')));
}

std::string Url::path() const {
    std::string_view rest = std::string_view(text_).substr(text_.find(':') + 1);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const auto slash = rest.find_first_of("/?#");
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
    }
    return std::string(rest.substr(0, rest.find_first_of("?#")));
}

}  // namespace kelto
