#include "SyncModel/Support/Uuid.h"

#include <uuid/uuid.h>

#include <cstring>

namespace kelto {

Uuid Uuid::random() {
    Uuid u;
    uuid_generate_random(u.bytes_.data());
    return u;
}

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    char buffer[37];
    std::memcpy(buffer, text.data(), 36);
    buffer[36] = '\0';
    Uuid u;
    if (uuid_parse(buffer, u.bytes_.data()) != 0) return std::nullopt;
    return u;
}

std::string Uuid::string() const {
    char buffer[37];
    uuid_unparse_upper(bytes_.data(), buffer);
    return std::string(buffer, 36);
}

std::string Uuid::lowerString() const {
    char buffer[37];
    uuid_unparse_lower(bytes_.data(), buffer);
    return std::string(buffer, 36);
}

bool Uuid::isNil() const { return uuid_is_null(bytes_.data()) != 0; }

}  // namespace kelto

std::size_t std::hash<kelto::Uuid>::operator()(const kelto::Uuid& u) const noexcept {
    std::uint64_t a = 0, b = 0;
    std::memcpy(&a, u.bytes().data(), 8);
    std::memcpy(&b, u.bytes().data() + 8, 8);
    return static_cast<std::size_t>(a ^ (b * 0x9E3779B97F4A7C15ULL));
}
