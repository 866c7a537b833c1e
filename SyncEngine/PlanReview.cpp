#include "SyncEngine/PlanReview.h"

#include "SyncEngine/PathKey.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <set>
#include <utility>

namespace kelto {

namespace {

std::string keyOn(const PlannedArchive& taking, PlanReview::Names names) {
    const bool caseSensitive = taking.on == Side::a ? names.caseSensitiveA : names.caseSensitiveB;
    return caseSensitive ? PathKey::of(taking.path) : Unicode::caseFolded(taking.path);
}

}  // namespace

std::vector<PlannedArchive> PlanReview::beyond(const SyncPlan& reviewed, const SyncPlan& plan, Names names) {
    std::set<std::pair<Side, std::string>> listed;
    for (const PlannedArchive& taking : reviewed.archives) listed.emplace(taking.on, keyOn(taking, names));
    std::vector<PlannedArchive> taken;
    for (const PlannedArchive& taking : plan.archives)
        if (!listed.contains({taking.on, keyOn(taking, names)})) taken.push_back(taking);
    return taken;
}

std::string PlanReview::reason(const std::vector<PlannedArchive>& taken) {
    const Side side = std::any_of(taken.begin(), taken.end(), [](const PlannedArchive& t) { return t.on == Side::a; })
                          ? Side::a
                          : Side::b;
    const auto n = std::count_if(taken.begin(), taken.end(), [&](const PlannedArchive& t) { return t.on == side; });
    return std::to_string(n) + " files on side " + (side == Side::a ? "A" : "B") +
           " that you did not review will be archived or deleted.";
}

}  // namespace kelto
