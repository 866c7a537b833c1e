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

// The key under which a volume that ignores case takes a name, in normal
// form C: each code point's simple upper case lowered again, so that the
// spellings volumes fold together by their upper-case tables (Σ, σ and ς)
// share a key as well as those that lowering alone joins; U+0130 becomes i
// with its combining dot, not a plain i. Without locale or context. Text
// that is not valid UTF-8 has only its ASCII letters lowered.
std::string caseFolded(std::string_view text);

// Replaces every invalid UTF-8 sequence with U+FFFD.
std::string decodeLossy(std::string_view bytes);

// Trims white space and line breaks (Unicode White_Space) from both ends.
std::string_view trimWhitespace(std::string_view text);

}  // namespace kelto::Unicode
