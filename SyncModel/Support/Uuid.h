#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// A 16-byte UUID. Written in the 8-4-4-4-12 form with upper-case digits;
// read in either case.
class Uuid {
public:
    Uuid() = default;  // the nil UUID
    explicit Uuid(const std::array<std::uint8_t, 16>& bytes) : bytes_(bytes) {}

    static Uuid random();
    static std::optional<Uuid> parse(std::string_view text);

    std::string string() const;       // upper case
    std::string lowerString() const;  // lower case
    const std::array<std::uint8_t, 16>& bytes() const { return bytes_; }
    bool isNil() const;

    friend auto operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace kelto

template <>
struct std::hash<kelto::Uuid> {
    std::size_t operator()(const kelto::Uuid& u) const noexcept;
};
