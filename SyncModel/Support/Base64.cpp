#include "SyncModel/Support/Base64.h"

#include <sodium.h>

namespace kelto::Base64 {

std::string encode(std::string_view bytes) {
    const std::size_t length = sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    std::string out(length, '\0');
    sodium_bin2base64(out.data(), length, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    out.resize(length - 1);  // drop the terminating NUL
    return out;
}

std::optional<std::string> decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string out(text.size() / 4 * 3, '\0');
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), out.size(), text.data(), text.size(), nullptr,
                          &length, &end, sodium_base64_VARIANT_ORIGINAL) != 0)
        return std::nullopt;
    if (end != text.data() + text.size()) return std::nullopt;
    out.resize(length);
    return out;
}

}  // namespace kelto::Base64
