#include "SyncModel/Endpoint.h"

#include "SyncModel/Support/Text.h"

namespace kelto {

bool operator==(const Endpoint& a, const Endpoint& b) {
    return Text::equal(a.path, b.path) && a.bookmark == b.bookmark && a.volume == b.volume &&
           Text::equal(a.relativePath, b.relativePath) && a.fileID == b.fileID;
}

Json JsonCodec<Endpoint>::encode(const Endpoint& e) {
    Json out = Json::object();
    out["path"] = e.path;
    if (e.bookmark) out["bookmark"] = encodeBase64(*e.bookmark);
    out["volume"] = JsonCodec<VolumeIdentity>::encode(e.volume);
    out["relativePath"] = e.relativePath;
    if (e.fileID) out["fileID"] = *e.fileID;
    return out;
}

Endpoint JsonCodec<Endpoint>::decode(const JsonIn& in) {
    Endpoint e;
    e.path = in["path"].string();
    if (auto bookmark = in.optional("bookmark")) e.bookmark = bookmark->base64();
    e.volume = in["volume"].as<VolumeIdentity>();
    e.relativePath = in["relativePath"].string();
    if (auto fileID = in.optional("fileID")) e.fileID = fileID->uint64();
    return e;
}

}  // namespace kelto
