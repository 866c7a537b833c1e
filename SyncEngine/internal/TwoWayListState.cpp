#include "SyncEngine/internal/TwoWayListState.h"

#include "SyncEngine/ArchiveDirectories.h"

#include <limits>

namespace kelto {

TwoWayListState::TwoWayListState(std::int64_t offset, ProgressHandler onProgress, const Clock& clock)
    : lastEmission(-std::numeric_limits<double>::infinity()),
      offset(offset),
      onProgress(std::move(onProgress)),
      clock_(clock) {}

std::optional<SyncProgress> TwoWayListState::record(ListEntry&& entry) {
    std::string& path = entry.path;
    // Excluded from every listing; an entry that shows up anyway is never taken in.
    if (ArchiveDirectories::isReservedPath(path)) return std::nullopt;
    if (entry.kind == EntryKind::directory && !path.empty() && path.back() == '/') path.pop_back();
    entries.add(path, entry.kind, entry.size, entry.mtime, entry.timeKnown);
    if (!reporting || !onProgress) return std::nullopt;
    const double now = clock_.monotonicSeconds();
    if (now - lastEmission < reportInterval) return std::nullopt;
    lastEmission = now;
    return scanningReport(std::move(path), offset + static_cast<std::int64_t>(entries.size()));
}

void TwoWayListState::recordOtherLine(std::string_view line) {
    if (!unreadableLine && looksLikeEntry(line)) unreadableLine.emplace(line);
}

SideListing TwoWayListState::finish() {
    SideListing listing;
    std::int64_t count;
    ProgressHandler report;
    {
        std::lock_guard guard(lock);
        listing = std::move(entries).build();
        entries = SideListing::Builder();
        count = offset + static_cast<std::int64_t>(listing.size());
        report = onProgress;
    }
    if (report) report(scanningReport(std::nullopt, count));
    return listing;
}

SyncProgress TwoWayListState::scanningReport(std::optional<std::string> path, std::int64_t count) {
    SyncProgress progress;
    progress.phase = SyncPhase::scanning;
    progress.currentPath = std::move(path);
    progress.scannedItems = count;
    return progress;
}

bool TwoWayListState::looksLikeEntry(std::string_view line) {
    constexpr std::string_view types = "bcdlps-", permissions = "rwxstST-";
    if (line.size() < 11 || types.find(line[0]) == std::string_view::npos || line[10] != ' ') return false;
    for (std::size_t i = 1; i < 10; ++i)
        if (permissions.find(line[i]) == std::string_view::npos) return false;
    return true;
}

}  // namespace kelto
