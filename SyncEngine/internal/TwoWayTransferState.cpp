#include "SyncEngine/internal/TwoWayTransferState.h"

#include "SyncEngine/PathKey.h"
#include "SyncEngine/RsyncOutputParser.h"

#include <algorithm>
#include <limits>

namespace kelto {

namespace {

// Adds without overflowing: absurd listed sizes must not wrap the total.
std::int64_t totalSize(const SyncPlan& plan) {
    std::int64_t sum = 0;
    for (const PlannedCopy& copy : plan.copies)
        if (__builtin_add_overflow(sum, copy.size, &sum))
            sum = copy.size > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    return sum;
}

std::int64_t saturatingSum(std::int64_t x, std::int64_t y) {
    std::int64_t sum;
    if (__builtin_add_overflow(x, y, &sum)) return y > 0 ? std::numeric_limits<std::int64_t>::max() : 0;
    return sum;
}

}  // namespace

TwoWayTransferState::TwoWayTransferState(const SyncPlan& plan, RunLogSink& log, ProgressHandler onProgress)
    : handle(log),
      onProgress(std::move(onProgress)),
      aggregator(totalSize(plan), static_cast<std::int64_t>(plan.copies.size())),
      lastEmission(-std::numeric_limits<double>::infinity()),
      total(totalSize(plan)) {
    stats.skipped = plan.skipped;
}

void TwoWayTransferState::writeLogLine(std::string_view line) {
    if (logError) return;
    try {
        handle.writeLine(line);
    } catch (...) {
        logError = std::current_exception();
    }
}

void TwoWayTransferState::flushLog() {
    if (logError) return;
    try {
        handle.flush();
    } catch (...) {
        logError = std::current_exception();
    }
}

void TwoWayTransferState::startDirection(PathKeySet expectedKeys, std::vector<std::string> writes,
                                         const std::string& sourceFolder, const std::string& destinationFolder) {
    expected = std::move(expectedKeys);
    aggregator.expect(std::move(writes));
    completed.clear();
    reported.clear();
    received.clear();
    copied.clear();
    directionBytes = 0;
    source = sourceFolder.ends_with('/') ? sourceFolder : sourceFolder + "/";
    destination = destinationFolder.ends_with('/') ? destinationFolder : destinationFolder + "/";
}

std::optional<SyncProgress> TwoWayTransferState::recordProgress(const RsyncProgressSample& sample, double now) {
    directionBytes = std::max(directionBytes, sample.bytes);
    return throttled(now);
}

std::optional<SyncProgress> TwoWayTransferState::recordItem(const ItemizedChange& item, double now) {
    std::string_view path = item.path;
    if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);  // rsync marks folders so
    completed.insert(PathKey::of(path));
    if (item.code.starts_with(">f") || item.code.starts_with("cL")) {
        aggregator.recordFile(item.path);
        copied.push_back(item);
        if (item.code.starts_with(">f")) received.push_back(item.path);
    }
    return throttled(now);
}

void TwoWayTransferState::countCopied(const std::vector<ItemizedChange>& arrived) {
    stats.filesCopied = saturatingSum(stats.filesCopied, static_cast<std::int64_t>(arrived.size()));
    for (const ItemizedChange& item : arrived) stats.bytesCopied = saturatingSum(stats.bytesCopied, item.size);
}

void TwoWayTransferState::recordDiagnostic(std::string_view line) {
    for (const std::string& path : RsyncOutputParser::quotedPaths(line, source, destination))
        reported.insert(PathKey::of(path));
}

PathKeySet TwoWayTransferState::endDirection(std::int32_t code) {
    completedBytes = saturatingSum(completedBytes, directionBytes);
    directionBytes = 0;
    PathKeySet unconfirmed = std::move(reported);
    reported.clear();
    if (code != 0)
        for (const std::string& key : expected)
            if (!completed.contains(key)) unconfirmed.insert(key);
    return unconfirmed;
}

std::optional<SyncProgress> TwoWayTransferState::throttled(double now) {
    if (now - lastEmission < reportInterval) return std::nullopt;
    lastEmission = now;
    flushLog();  // keeps the log readable while the run lasts
    return aggregator.update(saturatingSum(completedBytes, directionBytes), now);
}

}  // namespace kelto
