#include "SyncModel/RunRecord.h"

#include "SyncModel/Support/Unicode.h"

namespace kelto {

Json JsonCodec<RunRecord>::encode(const RunRecord& r) {
    Json out = Json::object();
    out["id"] = encodeUuid(r.id);
    out["jobID"] = encodeUuid(r.jobID);
    out["trigger"] = encodeEnum(r.trigger);
    out["startedAt"] = encodeDate(r.startedAt);
    out["endedAt"] = encodeDate(r.endedAt);
    out["outcome"] = JsonCodec<RunOutcome>::encode(r.outcome);
    out["stats"] = JsonCodec<RunStats>::encode(r.stats);
    if (r.logPath) out["logPath"] = Unicode::decodeLossy(*r.logPath);
    return out;
}

RunRecord JsonCodec<RunRecord>::decode(const JsonIn& in) {
    RunRecord r;
    r.id = in["id"].uuid();
    r.jobID = in["jobID"].uuid();
    r.trigger = in["trigger"].enumeration<RunTrigger>();
    r.startedAt = in["startedAt"].date();
    r.endedAt = in["endedAt"].date();
    r.outcome = in["outcome"].as<RunOutcome>();
    r.stats = in["stats"].as<RunStats>();
    if (auto path = in.optional("logPath")) r.logPath = path->string();
    return r;
}

}  // namespace kelto
