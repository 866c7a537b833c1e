// Plans a two-way sync of 1,000,000 entries a side against a baseline of the
// same size, with 1 % of the entries changed on each side (modified, deleted
// or added in equal parts), and prints wall times and the planner's peak
// memory. Usage: TwoWayPlannerBench [entries per side]
#include "BenchSupport.h"

#include "SyncEngine/PathKey.h"
#include "SyncEngine/TwoWayPlanner.h"

#include <cstdlib>
#include <malloc.h>
#include <random>
#include <vector>

using namespace kelto;
using namespace kelto::bench;

namespace {

struct Item {
    std::string path;
    EntryKind kind;
    std::int64_t size;
    std::int64_t mtime;
};

// A photo-library-like tree: 100 folders of 100 folders of files, about one
// name in a hundred with an accented letter, decomposed as some volumes store it.
std::vector<Item> makeTree(std::size_t files, std::mt19937_64& rng) {
    std::vector<Item> items;
    items.reserve(files + files / 50);
    const std::size_t perFolder = 100;
    const std::size_t folders = (files + perFolder - 1) / perFolder;
    char buffer[128];
    for (std::size_t f = 0; f < folders; ++f) {
        const std::size_t top = f / 100, sub = f % 100;
        if (sub == 0) {
            std::snprintf(buffer, sizeof buffer, "Library %03zu", top);
            items.push_back({buffer, EntryKind::directory, 0, 1'600'000'000});
        }
        std::snprintf(buffer, sizeof buffer, "Library %03zu/Album %03zu", top, sub);
        items.push_back({buffer, EntryKind::directory, 0, 1'600'000'000});
        for (std::size_t i = 0; i < perFolder && f * perFolder + i < files; ++i) {
            const std::size_t n = f * perFolder + i;
            if (n % 100 == 7)
                std::snprintf(buffer, sizeof buffer, "Library %03zu/Album %03zu/Cafe\xCC\x81 %07zu.jpg", top, sub, n);
            else
                std::snprintf(buffer, sizeof buffer, "Library %03zu/Album %03zu/IMG_%07zu.JPG", top, sub, n);
            items.push_back({buffer, EntryKind::file, static_cast<std::int64_t>(rng() % 10'000'000),
                             1'600'000'000 + static_cast<std::int64_t>(rng() % 100'000'000)});
        }
    }
    return items;
}

// 1 % of the entries: a third modified, a third deleted, a third added.
std::vector<Item> changed(const std::vector<Item>& base, std::mt19937_64& rng, const char* tag, std::int64_t later) {
    std::vector<Item> out;
    out.reserve(base.size() + base.size() / 100);
    char buffer[160];
    std::size_t added = 0;
    for (const Item& item : base) {
        const auto roll = rng() % 300;
        if (item.kind == EntryKind::file && roll == 0) continue;  // deleted
        Item copy = item;
        if (item.kind == EntryKind::file && roll == 1) {
            copy.size += 1;
            copy.mtime += later;  // differs per side, so a file modified on both is a conflict
        }
        out.push_back(std::move(copy));
        if (item.kind == EntryKind::file && roll == 2) {
            std::snprintf(buffer, sizeof buffer, "%s.%s-%zu.new", item.path.c_str(), tag, added++);
            out.push_back({buffer, EntryKind::file, 1234, 1'700'000'000});
        }
    }
    return out;
}

SideListing listingOf(const std::vector<Item>& items) {
    SideListing::Builder builder;
    std::size_t bytes = 0;
    for (const Item& item : items) bytes += item.path.size();
    builder.reserve(items.size(), bytes + bytes / 50);
    for (const Item& item : items) builder.add(item.path, item.kind, item.size, item.mtime);
    return std::move(builder).build();
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t files = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1'000'000;
    std::mt19937_64 rng(42);
    const std::vector<Item> base = makeTree(files, rng);
    std::vector<Item> a = changed(base, rng, "a", 3600);
    std::vector<Item> b = changed(base, rng, "b", 7200);
    // rsync lists folder by folder; shuffle within each folder so the
    // listing is not handed over in key order.
    for (auto* side : {&a, &b})
        for (std::size_t i = 0; i + 100 <= side->size(); i += 100)
            std::shuffle(side->begin() + static_cast<std::ptrdiff_t>(i), side->begin() + static_cast<std::ptrdiff_t>(i + 100), rng);

    const long rssBeforeListings = statusKiB("VmRSS");
    auto start = std::chrono::steady_clock::now();
    SideListing sideA = listingOf(a);
    const double listingSeconds = secondsSince(start);
    SideListing sideB = listingOf(b);
    Baseline::Builder baselineBuilder;
    for (const Item& item : base)
        baselineBuilder.add(PathKey::of(item.path), BaselineEntry{item.kind, item.size, item.mtime});
    const Baseline baseline = std::move(baselineBuilder).build();
    const long tablesKiB = statusKiB("VmRSS") - rssBeforeListings;
    std::optional<Baseline> maybeBaseline(baseline);

    // As the engine plans: each file changed on both sides that the listings
    // show alike would be read; counted here.
    std::size_t contentChecks = 0;
    const TwoWayPlanner::SameContents sameContents = [&contentChecks](std::string_view, std::string_view) {
        ++contentChecks;
        return false;
    };

    const bool peakReset = resetPeak();
    const long rssBefore = statusKiB("VmRSS");
    const auto heapBefore = mallinfo2();
    start = std::chrono::steady_clock::now();
    const TwoWayPlan plan = TwoWayPlanner::plan(sideA, sideB, maybeBaseline, 1, nullptr, sameContents);
    const double planSeconds = secondsSince(start);
    const long planPeakKiB = statusKiB("VmHWM") - rssBefore;
    const auto heapAfter = mallinfo2();
    const double planHeapMiB =
        (static_cast<double>(heapAfter.uordblks + heapAfter.hblkhd) - static_cast<double>(heapBefore.uordblks + heapBefore.hblkhd)) /
        (1024.0 * 1024.0);

    start = std::chrono::steady_clock::now();
    const SyncPlan view = TwoWayPlanner::makeSyncPlan(plan, sideA, sideB);
    const double viewSeconds = secondsSince(start);

    // A first sync onto an empty side: every entry becomes a copy.
    start = std::chrono::steady_clock::now();
    const TwoWayPlan first = TwoWayPlanner::plan(sideA, SideListing{}, std::nullopt, 1, nullptr, sameContents);
    const double firstSeconds = secondsSince(start);

    const double perEntry = planSeconds / static_cast<double>(std::max(sideA.size(), sideB.size()));
    std::printf("entries: A %zu, B %zu, baseline %zu\n", sideA.size(), sideB.size(), baseline.size());
    std::printf("plan: copy A->B %zu, B->A %zu, archive A %zu, B %zu, conflicts %zu\n", plan.copyAtoB.size(),
                plan.copyBtoA.size(), plan.archiveOnA.size(), plan.archiveOnB.size(), plan.conflicts.size());
    std::printf("files whose contents would be read: %zu\n", contentChecks);
    std::printf("building one side's listing (unsorted input): %.3f s\n", listingSeconds);
    std::printf("memory of the three tables: %.1f MiB\n", static_cast<double>(tablesKiB) / 1024.0);
    std::printf("TwoWayPlanner::plan: %.3f s, %.0f ns per entry of a side (goal < 1000 ns)\n", planSeconds,
                perEntry * 1e9);
    if (peakReset)
        std::printf("TwoWayPlanner::plan peak memory above the tables: %.1f MiB\n", static_cast<double>(planPeakKiB) / 1024.0);
    else
        std::printf("TwoWayPlanner::plan peak memory: unavailable (clear_refs refused)\n");
    std::printf("heap held by the resulting plan: %.1f MiB\n", planHeapMiB);
    std::printf("first sync onto an empty side, no baseline: %.3f s for %zu copies\n", firstSeconds, first.copyAtoB.size());
    std::printf("TwoWayPlanner::makeSyncPlan: %.3f s (%zu copies, %zu archives)\n", viewSeconds, view.copies.size(),
                view.archives.size());
    return 0;
}
