#include "SyncEngine/TwoWayPlanner.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/PathKey.h"
#include "SyncEngine/internal/KeyedMerge.h"
#include "SyncEngine/internal/PathKeySet.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <map>
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

// Time comparisons with each side's clamping allowed for.
class Times {
public:
    Times(std::uint64_t w, const TwoWayPlanner::KeptTime& kept) : w_(w), kept_(kept) {}

    bool same(Side side, std::int64_t held, std::int64_t intended) const {
        if (within(held, intended, w_)) return true;
        if (!kept_) return false;
        const std::optional<std::int64_t> kept = kept_(side, intended);
        return kept && within(*kept, held, w_);
    }

    // The entry of `side` is the baseline's version.
    bool unchanged(Side side, const Ref& e, const BaselineEntry* bl) const {
        if (!bl || e.kind != bl->kind) return false;
        return isDirectory(e) || (e.size == bl->size && same(side, e.mtime, bl->mtime));
    }

    bool inStep(const Ref& a, const Ref& b) const {
        return a.kind == b.kind && a.size == b.size &&
               (same(Side::b, b.mtime, a.mtime) || same(Side::a, a.mtime, b.mtime));
    }

private:
    std::uint64_t w_;
    const TwoWayPlanner::KeptTime& kept_;
};

// Keys that one side spells twice (names in one folder that differ only in
// normalisation), with the spellings its listing dropped. No spelling may
// stand for the other, so the key and everything beneath it are skipped.
class SpellingTwins {
public:
    SpellingTwins(const SideListing& a, const SideListing& b) {
        for (const SideListing* side : {&a, &b})
            for (const std::string& spelling : side->spellingTwins()) {
                std::string key = PathKey::of(spelling);
                dropped_[key].push_back(spelling);
                keys_.insert(std::move(key));
            }
    }

    bool cover(std::string_view key) const { return PathKey::isPathOrAncestor(key, keys_); }

    // Every spelling of the key, each once: the sides' own and the dropped ones.
    void skip(std::string_view key, const std::optional<Ref>& a, const std::optional<Ref>& b,
              std::vector<SkippedFile>& skipped) const {
        std::vector<std::string_view> seen;
        auto add = [&](std::string_view spelling) {
            if (std::find(seen.begin(), seen.end(), spelling) != seen.end()) return;
            seen.push_back(spelling);
            skipped.push_back(SkippedFile{std::string(spelling), FileSkipReason::normalisationTwin});
        };
        if (a) add(a->actualPath);
        if (b) add(b->actualPath);
        if (const auto found = dropped_.find(key); found != dropped_.end())
            for (const std::string& spelling : found->second) add(spelling);
    }

private:
    PathKeySet keys_;
    std::map<std::string, std::vector<std::string>, std::less<>> dropped_;
};

// A time the listing could not show matters for everything but a folder,
// and for a folder only where its removal is judged.
bool untimed(const std::optional<Ref>& e) { return e && !e->timeKnown && !isDirectory(*e); }

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

bool TwoWayPlanner::sameTime(Side side, std::int64_t held, std::int64_t intended, std::int64_t modifyWindow,
                             const KeptTime& keptTime) {
    return Times(modifyWindow < 0 ? 0 : static_cast<std::uint64_t>(modifyWindow), keptTime).same(side, held, intended);
}

TwoWayPlan TwoWayPlanner::plan(const SideListing& sideA, const SideListing& sideB,
                               const std::optional<Baseline>& baseline, std::int64_t modifyWindow,
                               const KeptTime& keptTime, const SameContents& sameContents,
                               std::int64_t racyDueUntil) {
    const std::uint64_t w = modifyWindow < 0 ? 0 : static_cast<std::uint64_t>(modifyWindow);
    static const Baseline noBaseline;
    const Baseline& base = baseline ? *baseline : noBaseline;
    const Times times(w, keptTime);
    const SpellingTwins twins(sideA, sideB);

    TwoWayPlan plan;
    ClashSet clashes;
    SideListing::Builder deletionsA, deletionsB;
    auto skipForTime = [&plan](const Ref& e) {
        plan.skipped.push_back(SkippedFile{std::string(e.actualPath), FileSkipReason::timeOutOfRange});
    };

    KeyedMerge merge(sideA, sideB, base);
    while (merge.next()) {
        const std::string_view key = merge.key;
        const std::optional<Ref> a = merge.a();
        const std::optional<Ref> b = merge.b();
        const BaselineEntry* bl = merge.base;

        if (clashes.hasAncestorOf(key)) continue;
        if (!a && !b) continue;
        if (ArchiveDirectories::isReservedPath(key)) continue;  // never the user's to sync
        if (twins.cover(key)) {
            twins.skip(key, a, b, plan.skipped);
            continue;
        }
        if ((untimed(a) || untimed(b)) && !(a && b && isDirectory(*a) != isDirectory(*b))) {
            skipForTime(untimed(a) ? *a : *b);
            continue;
        }

        // A racy entry whose mark is due: a side that lists as it may still
        // hold an edit made within its second. Where the marks are unknown
        // only the contents of sides that list alike are asked about: taking
        // every such entry for an edit would undo every deletion and make
        // every change a conflict.
        const bool due = bl && Baseline::comparable(bl->kind) && bl->mtime <= racyDueUntil;
        const bool untrusted = due && base.racy(key);
        const bool askAlike = untrusted || (due && !base.marksKnown());

        if (a && !b) {
            if (times.unchanged(Side::a, *a, bl) && !untrusted) {
                if (!a->timeKnown) {  // a folder: the removal could not be confirmed
                    skipForTime(*a);
                    continue;
                }
                (isDirectory(*a) ? plan.removeDirsOnA : plan.archiveOnA).emplace_back(a->actualPath);
                deletionsA.add(*a);
            } else {
                plan.copyAtoB.emplace_back(a->actualPath);
            }
            continue;
        }
        if (b && !a) {
            if (times.unchanged(Side::b, *b, bl) && !untrusted) {
                if (!b->timeKnown) {
                    skipForTime(*b);
                    continue;
                }
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

        // Changed since the baseline, as the listings show it.
        const bool aChanged = !times.unchanged(Side::a, *a, bl);
        const bool bChanged = !times.unchanged(Side::b, *b, bl);
        // Listed alike, or both as the baseline: in step, unless neither side
        // is known to hold the baseline's version (edits of one size within
        // one second list alike). Then only the files themselves tell.
        if (times.inStep(*a, *b) || (!aChanged && !bChanged)) {
            const bool known = (!aChanged || !bChanged) && !askAlike;
            const bool ask = sameContents && baseline && !known && a->kind == b->kind && Baseline::comparable(a->kind);
            if (!ask || sameContents(a->actualPath, b->actualPath)) continue;
        }

        if (aChanged != bChanged && !untrusted) {
            (aChanged ? plan.copyAtoB : plan.copyBtoA).emplace_back(aChanged ? a->actualPath : b->actualPath);
            continue;
        }
        // Both changed, or may have: a conflict. A side surely changed wins
        // over one that only may have; else side B wins only when newer by
        // more than the window. Sizes never decide.
        const bool bWins = aChanged == bChanged ? laterBeyond(b->mtime, a->mtime, w) : bChanged;
        if (bWins) {
            plan.copyBtoA.emplace_back(b->actualPath);
            plan.conflicts.push_back({std::string(b->actualPath), TwoWayConflict::Resolution::bWins});
        } else {
            plan.copyAtoB.emplace_back(a->actualPath);
            plan.conflicts.push_back({std::string(a->actualPath), TwoWayConflict::Resolution::aWins});
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

    // What each taking is as its side's listing shows it, spelled as there:
    // what a review of the plan approves.
    for (const PlannedArchive& archive : out.archives)
        if (const auto entry = (archive.on == Side::a ? sideA : sideB).find(PathKey::of(archive.path)))
            out.seen.push_back(SeenVersion{std::string(entry->actualPath), archive.on,
                                           ItemVersion::listed(entry->kind, entry->size, entry->mtime)});

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
