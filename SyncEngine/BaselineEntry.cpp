#include "SyncEngine/BaselineEntry.h"

namespace kelto {

Json JsonCodec<BaselineEntry>::encode(const BaselineEntry& value) {
    Json out = Json::object();
    out["kind"] = JsonCodec<EntryKind>::encode(value.kind);
    out["size"] = value.size;
    out["mtime"] = value.mtime;
    return out;
}

BaselineEntry JsonCodec<BaselineEntry>::decode(const JsonIn& in) {
    return BaselineEntry{in["kind"].as<EntryKind>(), in["size"].int64(), in["mtime"].int64()};
}

}  // namespace kelto
