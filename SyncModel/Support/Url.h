#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// An absolute URL kept as its text (e.g. "smb://host/share"). Parsing checks
// the generic syntax (scheme, then only characters a URL may hold); equality
// is equality of the text.
class Url {
public:
    static std::optional<Url> parse(std::string_view text);

    const std::string& string() const { return text_; }
    std::string scheme() const;
    // Host without user information or port; empty when the URL has no authority.
    std::string host() const;
    // Path component, percent escapes left as they are.
    std::string path() const;

    friend bool operator==(const Url&, const Url&) = default;

private:
    explicit Url(std::string text) : text_(std::move(text)) {}
    std::string text_;
};

}  // namespace kelto
