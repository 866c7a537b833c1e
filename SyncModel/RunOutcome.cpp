#include "SyncModel/RunOutcome.h"

#include "SyncModel/Support/Unicode.h"

namespace kelto {

bool operator==(const RunOutcome& a, const RunOutcome& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case RunOutcome::Case::failed:
        case RunOutcome::Case::needsReview: return a.message == b.message;
        case RunOutcome::Case::skipped: return a.skipReason == b.skipReason;
        default: return true;
    }
}

Json JsonCodec<RunOutcome>::encode(const RunOutcome& outcome) {
    Json payload = Json::object();
    switch (outcome.kind) {
        case RunOutcome::Case::failed:
        case RunOutcome::Case::needsReview: payload["_0"] = Unicode::decodeLossy(outcome.message); break;
        case RunOutcome::Case::skipped: payload["_0"] = encodeEnum(outcome.skipReason); break;
        default: break;
    }
    Json out = Json::object();
    out[std::string(enumName(outcome.kind))] = std::move(payload);
    return out;
}

RunOutcome JsonCodec<RunOutcome>::decode(const JsonIn& in) {
    in.expectObject();
    std::optional<RunOutcome::Case> found;
    int count = 0;
    for (const auto& [key, value] : in.json().items()) {
        (void)value;
        if (auto c = enumFromName<RunOutcome::Case>(key)) {
            found = c;
            ++count;
        }
    }
    if (count != 1) in.fail(DecodingError::Kind::typeMismatch, "Invalid number of keys found, expected one.");

    const JsonIn payload = in[enumName(*found)];
    payload.expectObject();
    switch (*found) {
        case RunOutcome::Case::failed: return RunOutcome::failed(payload["_0"].string());
        case RunOutcome::Case::needsReview: return RunOutcome::needsReview(payload["_0"].string());
        case RunOutcome::Case::skipped: return RunOutcome::skipped(payload["_0"].enumeration<SkipReason>());
        default: return RunOutcome{*found, {}, {}};
    }
}

}  // namespace kelto
