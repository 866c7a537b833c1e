#include "SyncModel/JobPresentation.h"

#include <algorithm>

namespace kelto {

namespace {
bool isConnectRun(const Trigger& t) {
    const auto* c = t.as<Trigger::OnConnect>();
    return c && c->action == ConnectAction::run;
}
bool isTimed(const Trigger& t) { return t.kind() != Trigger::Kind::onConnect; }
bool isConnectAsk(const Trigger& t) {
    const auto* c = t.as<Trigger::OnConnect>();
    return c && c->action == ConnectAction::ask;
}
}  // namespace

bool JobPresentation::hasSimpleTriggers(const std::vector<Trigger>& t) {
    switch (t.size()) {
        case 0: return true;
        case 1: return isConnectRun(t[0]) || isTimed(t[0]);
        case 2: return (isConnectRun(t[0]) && isTimed(t[1])) || (isTimed(t[0]) && isConnectRun(t[1]));
        default: return false;
    }
}

int JobPresentation::advancedSettingsCount(const SyncJob& job) {
    const JobOptions& o = job.options;
    int count = 0;
    count += o.ejectWhenDone;
    count += o.skipOnBattery;
    count += !job.filters.useDefaultExcludes;
    count += !hasSimpleTriggers(job.triggers);
    count += std::any_of(job.triggers.begin(), job.triggers.end(), isConnectAsk);
    count += !job.filters.patterns.empty();
    count += !o.archiveEnabled;
    count += o.archiveRetentionDays != std::optional<std::int64_t>(30);
    count += o.deleteGuardPercent != 20;
    count += o.deleteGuardMinFiles != 50;
    return count;
}

SyncJob JobPresentation::simplified(const SyncJob& job) {
    SyncJob out = job;
    out.options = JobOptions::standard();
    out.filters = FilterSet{true, {}};
    if (!hasSimpleTriggers(job.triggers)) out.triggers.clear();
    return out;
}

}  // namespace kelto
