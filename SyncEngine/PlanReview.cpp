#include "SyncEngine/PlanReview.h"

#include "SyncEngine/SafetyGuard.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

namespace kelto {

namespace {

// A side that keeps names apart holds two items under two spellings of one
// name (NFC and NFD, say): there a review is matched by the exact name, or
// approving one would approve its twin. Only a side that folds names takes
// both spellings for one item, and is matched by the folded key.
std::string keyOn(const PlannedArchive& taking, PlanReview::Names names) {
    const bool caseSensitive = taking.on == Side::a ? names.caseSensitiveA : names.caseSensitiveB;
    return caseSensitive ? taking.path : Unicode::caseFolded(taking.path);
}

}  // namespace

std::vector<PlannedArchive> PlanReview::beyond(const SyncPlan& reviewed, const SyncPlan& plan, Names names) {
    // A review is of its folders: after the job's folders changed, or a side
    // became another folder, every path names another item.
    if (reviewed.folderA != plan.folderA || reviewed.folderB != plan.folderB) return plan.archives;
    using Folded = std::pair<Side, std::string>;
    // A side taken for one that folds names may keep two spellings of a key
    // apart after all (FAT folds no normal forms): where either plan holds
    // two, that key names two items, each matched by its exact name.
    std::set<Folded> twins;
    for (const SyncPlan* of : {&reviewed, &plan}) {
        std::map<Folded, std::string> spelled;
        const auto note = [&](const std::string& path, Side on) {
            const auto [at, fresh] = spelled.try_emplace(Folded{on, keyOn(PlannedArchive{path, on}, names)}, path);
            if (!fresh && at->second != path) twins.insert(at->first);
        };
        for (const PlannedArchive& taking : of->archives) note(taking.path, taking.on);
        for (const SeenVersion& item : of->seen) note(item.path, item.on);
    }
    using Key = std::tuple<Side, bool, std::string>;  // exact name or not
    const auto keyOf = [&](const std::string& path, Side on) {
        Folded folded{on, keyOn(PlannedArchive{path, on}, names)};
        if (twins.contains(folded)) return Key{on, true, path};
        return Key{on, false, std::move(folded.second)};
    };
    const auto versions = [&](const SyncPlan& of) {
        std::map<Key, ItemVersion> seen;
        for (const SeenVersion& item : of.seen) seen.insert_or_assign(keyOf(item.path, item.on), item.version);
        return seen;
    };
    const std::map<Key, ItemVersion> reviewedSeen = versions(reviewed), planSeen = versions(plan);
    const auto versionAt = [](const std::map<Key, ItemVersion>& seen, const Key& key) -> std::optional<ItemVersion> {
        const auto found = seen.find(key);
        return found == seen.end() ? std::nullopt : std::optional(found->second);
    };
    std::set<Key> listed;
    for (const PlannedArchive& taking : reviewed.archives) listed.insert(keyOf(taking.path, taking.on));
    std::vector<PlannedArchive> taken;
    for (const PlannedArchive& taking : plan.archives) {
        const Key key = keyOf(taking.path, taking.on);
        // What the plan saw no version of, a run keeps (held or archived).
        const std::optional<ItemVersion> version = versionAt(planSeen, key);
        if (!listed.contains(key) || (version && version != versionAt(reviewedSeen, key))) taken.push_back(taking);
    }
    return taken;
}

std::string PlanReview::reason(const std::vector<PlannedArchive>& taken) {
    const Side side = std::any_of(taken.begin(), taken.end(), [](const PlannedArchive& t) { return t.on == Side::a; })
                          ? Side::a
                          : Side::b;
    const auto n = std::count_if(taken.begin(), taken.end(), [&](const PlannedArchive& t) { return t.on == side; });
    return SafetyGuard::filesOnSide(n, side) + " that you did not review will be archived or deleted.";
}

}  // namespace kelto
