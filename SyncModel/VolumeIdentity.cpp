#include "SyncModel/VolumeIdentity.h"

#include "SyncModel/Support/Text.h"

namespace kelto {

bool operator==(const VolumeIdentity& a, const VolumeIdentity& b) {
    return a.kind == b.kind && Text::equal(a.uuid, b.uuid) && Text::equal(a.name, b.name) &&
           Text::equal(a.fileSystem, b.fileSystem) && a.isReadOnly == b.isReadOnly &&
           a.caseSensitive == b.caseSensitive && a.remountURL == b.remountURL;
}

Json JsonCodec<VolumeIdentity>::encode(const VolumeIdentity& v) {
    Json out = Json::object();
    out["kind"] = encodeEnum(v.kind);
    if (v.uuid) out["uuid"] = *v.uuid;
    out["name"] = v.name;
    out["fileSystem"] = v.fileSystem;
    out["isReadOnly"] = v.isReadOnly;
    out["caseSensitive"] = v.caseSensitive;
    if (v.remountURL) out["remountURL"] = v.remountURL->string();
    return out;
}

VolumeIdentity JsonCodec<VolumeIdentity>::decode(const JsonIn& in) {
    VolumeIdentity v;
    v.kind = in["kind"].enumeration<VolumeKind>();
    if (auto uuid = in.optional("uuid")) v.uuid = uuid->string();
    v.name = in["name"].string();
    v.fileSystem = in["fileSystem"].string();
    v.isReadOnly = in["isReadOnly"].boolean();
    v.caseSensitive = in["caseSensitive"].boolean();
    if (auto url = in.optional("remountURL")) v.remountURL = url->url();
    return v;
}

}  // namespace kelto
