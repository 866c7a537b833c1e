#include "SyncModel/RunStats.h"

#include "SyncModel/Support/Unicode.h"

namespace kelto {

Json JsonCodec<SkippedFile>::encode(const SkippedFile& s) {
    Json out = Json::object();
    // Paths come from the file system and may hold bytes that are not UTF-8;
    // a record must always be storable, so those show as U+FFFD.
    out["path"] = Unicode::decodeLossy(s.path);
    out["reason"] = encodeEnum(s.reason);
    return out;
}

SkippedFile JsonCodec<SkippedFile>::decode(const JsonIn& in) {
    return SkippedFile{in["path"].string(), in["reason"].enumeration<FileSkipReason>()};
}

Json JsonCodec<RunStats>::encode(const RunStats& s) {
    Json out = Json::object();
    out["filesCopied"] = s.filesCopied;
    out["bytesCopied"] = s.bytesCopied;
    out["filesArchived"] = s.filesArchived;
    out["skipped"] = JsonCodec<std::vector<SkippedFile>>::encode(s.skipped);
    Json errors = Json::array();
    for (const std::string& e : s.errors) errors.push_back(Unicode::decodeLossy(e));
    out["errors"] = std::move(errors);
    return out;
}

RunStats JsonCodec<RunStats>::decode(const JsonIn& in) {
    RunStats s;
    s.filesCopied = in["filesCopied"].int64();
    s.bytesCopied = in["bytesCopied"].int64();
    s.filesArchived = in["filesArchived"].int64();
    s.skipped = in["skipped"].arrayOf<SkippedFile>();
    for (const JsonIn& e : in["errors"].array()) s.errors.push_back(e.string());
    return s;
}

}  // namespace kelto
