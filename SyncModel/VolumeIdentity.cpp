#include "SyncModel/VolumeIdentity.h"

#include "SyncModel/Support/Text.h"

#include <algorithm>
#include <cctype>

namespace kelto {

namespace {
bool equalIgnoringCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}
}  // namespace

bool VolumeIdentity::matches(const VolumeIdentity& other) const {
    if (kind != other.kind) return false;
    if (kind != VolumeKind::network) return uuid && other.uuid && !uuid->empty() && *uuid == *other.uuid;
    if (!remountURL || !other.remountURL) return false;
    const std::string host = remountURL->host();
    if (host.empty() || other.remountURL->host().empty()) return false;
    return equalIgnoringCase(host, other.remountURL->host()) && remountURL->path() == other.remountURL->path() &&
           name == other.name;
}

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
