// Run identifiers: reading any text never fails hard, and an identifier that
// reads formats back to the same date and time. Identifiers made for any
// instant of years 0001 to 9999 read back, in zones with daylight saving,
// half-hour offsets and a skipped day. The zone comes from the input's last
// byte, the text (or instant) from the rest.
#include "SyncEngine/ArchiveRunID.h"
#include "fuzz/FuzzSupport.h"

#include <date/tz.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>

using namespace kelto;

namespace {

const ::date::time_zone& zone(std::size_t index) {
    static const std::array<const ::date::time_zone*, 5> zones{
        ::date::locate_zone("UTC"), ::date::locate_zone("Europe/Berlin"), ::date::locate_zone("Australia/Lord_Howe"),
        ::date::locate_zone("America/St_Johns"), ::date::locate_zone("Pacific/Apia")};
    return *zones[index % zones.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const ::date::time_zone& z = zone(input.ConsumeIntegral<std::uint8_t>());
    const bool fromInstant = input.ConsumeBool();

    if (fromInstant) {
        // 0001-01-02 to 9999-12-30 in UTC, so that every zone's local date has four digits.
        const double first = -62135510400.0, last = 253402041600.0;
        const double unix = input.ConsumeFloatingPointInRange(first, last);
        const std::string id = ArchiveRunID::make(Date::fromUnix(unix), z);
        KELTO_FUZZ_CHECK(id.size() == ArchiveRunID::length);
        const auto read = ArchiveRunID::date(id, z);
        KELTO_FUZZ_CHECK(read.has_value());
        // A local time that happened twice reads as its first occurrence, at
        // most the zone's largest shift early (Apia lived 4 July 1892 twice).
        const double whole = std::floor(unix);
        KELTO_FUZZ_CHECK(read->unix() <= whole && read->unix() >= whole - 25 * 3600);
        return 0;
    }

    const std::string text = input.ConsumeRemainingBytesAsString();
    const auto read = ArchiveRunID::date(text, z);
    if (!read) return 0;
    KELTO_FUZZ_CHECK(text.size() == ArchiveRunID::length);
    KELTO_FUZZ_CHECK(read->unix() == std::floor(read->unix()));
    const std::string again = ArchiveRunID::make(*read, z);
    KELTO_FUZZ_CHECK(again.size() == ArchiveRunID::length);
    KELTO_FUZZ_CHECK(again.substr(0, 18) == text.substr(0, 18));
    return 0;
}
