// The stored JSON forms: any bytes either fail to decode with DecodingError
// or decode to a value that encodes, decodes again to an equal value and
// encodes again to the same text. Each input is tried as every stored type,
// at the top and in each member of a top-level object (so a jobs file's
// "jobs" array is read as jobs).
#include "SyncEngine/BaselineEntry.h"
#include "SyncEngine/SideCounts.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"
#include "fuzz/FuzzSupport.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace kelto;

namespace {

template <class T>
void roundTrip(const Json& document) {
    T value;
    try {
        value = JsonCodec<T>::decode(JsonIn(document));
    } catch (const DecodingError&) {
        return;
    }
    // What was read can be written: every text that decoded is valid UTF-8.
    const std::string text = JsonText::encode(value);
    T again;
    try {
        again = JsonText::decode<T>(text);
    } catch (const DecodingError& error) {
        std::fprintf(stderr, "%s\n%s\n", text.c_str(), error.what());
        KELTO_FUZZ_CHECK(!"what was written decodes");
    }
    KELTO_FUZZ_CHECK(again == value);
    KELTO_FUZZ_CHECK(JsonText::encode(again) == text);
}

void everyType(const Json& document) {
    roundTrip<SyncJob>(document);
    roundTrip<std::vector<SyncJob>>(document);
    roundTrip<RunRecord>(document);
    roundTrip<std::vector<RunRecord>>(document);
    roundTrip<Endpoint>(document);
    roundTrip<VolumeIdentity>(document);
    roundTrip<Trigger>(document);
    roundTrip<FilterSet>(document);
    roundTrip<JobOptions>(document);
    roundTrip<RunOutcome>(document);
    roundTrip<RunStats>(document);
    roundTrip<SkippedFile>(document);
    roundTrip<TimeOfDay>(document);
    roundTrip<BaselineEntry>(document);
    roundTrip<SideCounts>(document);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Json document;
    try {
        document = JsonText::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const DecodingError&) {
        return 0;
    }
    everyType(document);
    if (document.is_object())
        for (const auto& member : document.items()) everyType(member.value());
    return 0;
}
