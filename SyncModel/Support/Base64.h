#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelto::Base64 {

// Standard alphabet, with padding, no line breaks.
std::string encode(std::string_view bytes);

// Strict: padding required, no white space or foreign characters.
std::optional<std::string> decode(std::string_view text);

}  // namespace kelto::Base64
