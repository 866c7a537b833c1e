#include "SyncEngine/SideCounts.h"

namespace kelto {

Json JsonCodec<SideCounts>::encode(const SideCounts& value) {
    Json out = Json::object();
    out["a"] = value.a;
    out["b"] = value.b;
    return out;
}

SideCounts JsonCodec<SideCounts>::decode(const JsonIn& in) { return SideCounts{in["a"].int64(), in["b"].int64()}; }

}  // namespace kelto
