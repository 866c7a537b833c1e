#pragma once

#include <string>
#include <string_view>

namespace kelto::Unicode {

bool isAscii(std::string_view text);
bool isValidUtf8(std::string_view text);

// Normalization Form C. ASCII text is returned as is without work; text that
// is not valid UTF-8 is returned unchanged (it has no normal form).
std::string nfc(std::string_view text);

// Equality by canonical equivalence: a precomposed letter equals the base
// letter followed by its combining mark. Invalid UTF-8 compares by bytes.
bool canonicallyEqual(std::string_view a, std::string_view b);

// The full default lower-case mapping, without locale or context: the
// simple mapping plus U+0130, the one code point whose lower case is two.
// Text that is not valid UTF-8 has only its ASCII letters lowered.
std::string lowercased(std::string_view text);

// Replaces every invalid UTF-8 sequence with U+FFFD.
std::string decodeLossy(std::string_view bytes);

// Trims white space and line breaks (Unicode White_Space) from both ends.
std::string_view trimWhitespace(std::string_view text);

}  // namespace kelto::Unicode
