#include "SyncModel/SyncJob.h"

#include "SyncModel/Support/Text.h"

namespace kelto {

SyncJob SyncJob::newJob(std::string name) {
    SyncJob job;
    job.id = Uuid::random();
    job.name = std::move(name);
    job.source = Endpoint::empty();
    job.destination = Endpoint::empty();
    job.mode = SyncMode::copy;
    job.filters = FilterSet{true, {}};
    job.options = JobOptions::standard();
    job.isEnabled = true;
    return job;
}

bool operator==(const SyncJob& a, const SyncJob& b) {
    return a.id == b.id && Text::equal(a.name, b.name) && a.source == b.source && a.destination == b.destination &&
           a.mode == b.mode && a.triggers == b.triggers && a.filters == b.filters && a.options == b.options &&
           a.isEnabled == b.isEnabled;
}

Json JsonCodec<SyncJob>::encode(const SyncJob& j) {
    Json out = Json::object();
    out["id"] = encodeUuid(j.id);
    out["name"] = j.name;
    out["source"] = JsonCodec<Endpoint>::encode(j.source);
    out["destination"] = JsonCodec<Endpoint>::encode(j.destination);
    out["mode"] = encodeEnum(j.mode);
    out["triggers"] = JsonCodec<std::vector<Trigger>>::encode(j.triggers);
    out["filters"] = JsonCodec<FilterSet>::encode(j.filters);
    out["options"] = JsonCodec<JobOptions>::encode(j.options);
    out["isEnabled"] = j.isEnabled;
    return out;
}

SyncJob JsonCodec<SyncJob>::decode(const JsonIn& in) {
    SyncJob j;
    j.id = in["id"].uuid();
    j.name = in["name"].string();
    j.source = in["source"].as<Endpoint>();
    j.destination = in["destination"].as<Endpoint>();
    j.mode = in["mode"].enumeration<SyncMode>();
    j.triggers = in["triggers"].arrayOf<Trigger>();
    j.filters = in["filters"].as<FilterSet>();
    j.options = in["options"].as<JobOptions>();
    j.isEnabled = in["isEnabled"].boolean();
    return j;
}

}  // namespace kelto
