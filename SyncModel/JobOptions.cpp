#include "SyncModel/JobOptions.h"

namespace kelto {

Json JsonCodec<JobOptions>::encode(const JobOptions& o) {
    Json out = Json::object();
    out["archiveEnabled"] = o.archiveEnabled;
    if (o.archiveRetentionDays) out["archiveRetentionDays"] = *o.archiveRetentionDays;
    out["deleteGuardPercent"] = o.deleteGuardPercent;
    out["deleteGuardMinFiles"] = o.deleteGuardMinFiles;
    out["ejectWhenDone"] = o.ejectWhenDone;
    out["skipOnBattery"] = o.skipOnBattery;
    return out;
}

JobOptions JsonCodec<JobOptions>::decode(const JsonIn& in) {
    JobOptions o;
    o.archiveEnabled = in["archiveEnabled"].boolean();
    if (auto days = in.optional("archiveRetentionDays")) o.archiveRetentionDays = days->int64();
    o.deleteGuardPercent = in["deleteGuardPercent"].int64();
    o.deleteGuardMinFiles = in["deleteGuardMinFiles"].int64();
    o.ejectWhenDone = in["ejectWhenDone"].boolean();
    o.skipOnBattery = in["skipOnBattery"].boolean();
    return o;
}

}  // namespace kelto
