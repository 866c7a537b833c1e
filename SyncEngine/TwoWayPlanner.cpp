#include "SyncEngine/TwoWayPlanner.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/PathKey.h"
#include "SyncEngine/internal/KeyedMerge.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <unordered_set>

namespace kelto {

namespace {

using Ref = SideListing::Ref;

// |x - y| <= w without overflow for any two 64-bit times.
bool within(std::int64_t x, std::int64_t y, std::uint64_t w) {
    const auto ux = static_cast<std::uint64_t>(x);
    const auto uy = static_cast<std::uint64_t>(y);
    return (x >= y ? ux - uy : uy - ux) <= w;
}

// y - x > w without overflow.
bool laterBeyond(std::int64_t y, std::int64_t x, std::uint64_t w) {
    return y > x && static_cast<std::uint64_t>(y) - static_cast<std::uint64_t>(x) > w;
}

bool isDirectory(const Ref& e) { return e.kind == EntryKind::directory; }

bool unchanged(const Ref& e, const BaselineEntry* bl, std::uint64_t w) {
    if (!bl || e.kind != bl->kind) return false;
    return isDirectory(e) || (e.size == bl->size && within(e.mtime, bl->mtime, w));
}

std::size_t slashes(std::string_view path) { return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')); }

// Keys are visited in ascending order, so every ancestor of a key has been
// seen (and, if a clash, recorded) before the key itself.
class ClashSet {
public:
    void add(std::string_view key) { keys_.insert(key); }
    bool hasAncestorOf(std::string_view key) const {
        if (keys_.empty()) return false;
        for (std::size_t slash = key.find('/'); slash != std::string_view::npos; slash = key.find('/', slash + 1))
            if (keys_.count(key.substr(0, slash))) return true;
        return false;
    }

private:
    std::unordered_set<std::string_view> keys_;
};

void sortDeeperFirst(std::vector<std::string>& paths) {
    // The list is in key order already, so ordering by depth alone, stably, suffices.
    std::stable_sort(paths.begin(), paths.end(),
                     [](const std::string& x, const std::string& y) { return slashes(x) > slashes(y); });
}

void addDirection(SyncPlan& out, const std::vector<std::string>& paths, const SideListing& source,
                  const SideListing& receiving, Side to) {
    std::string storage;
    std::size_t sourceHint = 0, receivingHint = 0;  // the plan's lists come in key order
    for (const std::string& path : paths) {
        const std::string_view key = PathKey::of(path, storage);
        const auto from = source.findFrom(key, sourceHint);
        if (!from || from->kind == EntryKind::directory) continue;  // folders are made by the transfer, not shown
        out.copies.push_back(PlannedCopy{path, from->size, to});
        const auto replaced = receiving.findFrom(key, receivingHint);
        if (replaced && replaced->kind != EntryKind::directory) out.archives.push_back(PlannedArchive{path, to});
    }
}

}  // namespace

bool TwoWayPlanner::deeperFirst(std::string_view x, std::string_view y) {
    const std::size_t dx = slashes(x), dy = slashes(y);
    if (dx != dy) return dx > dy;
    if (Unicode::isAscii(x) && Unicode::isAscii(y)) return x < y;
    return PathKey::of(x) < PathKey::of(y);
}

TwoWayPlan TwoWayPlanner::plan(const SideListing& sideA, const SideListing& sideB,
                               const std::optional<Baseline>& baseline, std::int64_t modifyWindow) {
    const std::uint64_t w = modifyWindow < 0 ? 0 : static_cast<std::uint64_t>(modifyWindow);
    static const Baseline noBaseline;
    const Baseline& base = baseline ? *baseline : noBaseline;

    TwoWayPlan plan;
    ClashSet clashes;
    SideListing::Builder deletionsA, deletionsB;

    KeyedMerge merge(sideA, sideB, base);
    while (merge.next()) {
        const std::string_view key = merge.key;
        const std::optional<Ref> a = merge.a();
        const std::optional<Ref> b = merge.b();
        const BaselineEntry* bl = merge.base;

        if (clashes.hasAncestorOf(key)) continue;
        if (!a && !b) continue;
        if (ArchiveDirectories::isReservedPath(key)) continue;  // never the user's to sync

        if (a && !b) {
            if (unchanged(*a, bl, w)) {
                (isDirectory(*a) ? plan.removeDirsOnA : plan.archiveOnA).emplace_back(a->actualPath);
                deletionsA.add(*a);
            } else {
                plan.copyAtoB.emplace_back(a->actualPath);
            }
            continue;
        }
        if (b && !a) {
            if (unchanged(*b, bl, w)) {
                (isDirectory(*b) ? plan.removeDirsOnB : plan.archiveOnB).emplace_back(b->actualPath);
                deletionsB.add(*b);
            } else {
                plan.copyBtoA.emplace_back(b->actualPath);
            }
            continue;
        }

        if (isDirectory(*a) != isDirectory(*b)) {
            clashes.add(key);
            plan.conflicts.push_back({std::string(a->actualPath), TwoWayConflict::Resolution::skippedTypeClash});
            continue;
        }
        if (isDirectory(*a)) continue;
        if (a->kind == b->kind && a->size == b->size && within(a->mtime, b->mtime, w)) continue;

        const bool aChanged = !unchanged(*a, bl, w);
        const bool bChanged = !unchanged(*b, bl, w);
        if (aChanged && !bChanged) {
            plan.copyAtoB.emplace_back(a->actualPath);
        } else if (bChanged && !aChanged) {
            plan.copyBtoA.emplace_back(b->actualPath);
        } else if (aChanged && bChanged) {
            // Side B wins only when newer by more than the window; sizes never decide.
            if (laterBeyond(b->mtime, a->mtime, w)) {
                plan.copyBtoA.emplace_back(b->actualPath);
                plan.conflicts.push_back({std::string(b->actualPath), TwoWayConflict::Resolution::bWins});
            } else {
                plan.copyAtoB.emplace_back(a->actualPath);
                plan.conflicts.push_back({std::string(a->actualPath), TwoWayConflict::Resolution::aWins});
            }
        }
    }

    // Every list was filled in key order, which is the ascending order of the
    // normalised paths; only the folder removals need reordering.
    sortDeeperFirst(plan.removeDirsOnA);
    sortDeeperFirst(plan.removeDirsOnB);
    plan.deletionEntriesA = std::move(deletionsA).build();
    plan.deletionEntriesB = std::move(deletionsB).build();
    return plan;
}

SyncPlan TwoWayPlanner::makeSyncPlan(const TwoWayPlan& plan, const SideListing& sideA, const SideListing& sideB) {
    SyncPlan out;
    addDirection(out, plan.copyAtoB, sideA, sideB, Side::b);
    addDirection(out, plan.copyBtoA, sideB, sideA, Side::a);
    for (const std::string& path : plan.archiveOnA) out.archives.push_back(PlannedArchive{path, Side::a});
    for (const std::string& path : plan.archiveOnB) out.archives.push_back(PlannedArchive{path, Side::b});

    out.skipped = plan.skipped;
    for (const TwoWayConflict& conflict : plan.conflicts) {
        if (conflict.resolution == TwoWayConflict::Resolution::skippedTypeClash)
            out.skipped.push_back(SkippedFile{conflict.path, FileSkipReason::typeConflict});
        out.conflicts.push_back(conflict.path);
    }
    out.entryCountA = sideA.fileCount();
    out.entryCountB = sideB.fileCount();
    out.deletionCount = 0;
    return out;
}

}  // namespace kelto
