#pragma once

#include "SyncModel/Endpoint.h"
#include "SyncModel/FilterSet.h"
#include "SyncModel/JobOptions.h"
#include "SyncModel/SyncMode.h"
#include "SyncModel/Trigger.h"

#include <string>
#include <vector>

namespace kelto {

struct SyncJob {
    Uuid id;
    std::string name;
    Endpoint source;       // side A
    Endpoint destination;  // side B
    SyncMode mode = SyncMode::copy;
    std::vector<Trigger> triggers;  // in the user's order
    FilterSet filters;
    JobOptions options;
    bool isEnabled = true;

    // A job as the main window creates it; `name` is the localised "New job".
    static SyncJob newJob(std::string name);

    friend bool operator==(const SyncJob& a, const SyncJob& b);
};

template <>
struct JsonCodec<SyncJob> {
    static Json encode(const SyncJob& value);
    static SyncJob decode(const JsonIn& in);
};

}  // namespace kelto
