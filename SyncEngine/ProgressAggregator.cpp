#include "SyncEngine/ProgressAggregator.h"

#include <algorithm>

namespace kelto {

ProgressAggregator::ProgressAggregator(std::int64_t bytesTotal, std::int64_t filesTotal)
    : bytesTotal(std::max<std::int64_t>(bytesTotal, 0)), filesTotal(std::max<std::int64_t>(filesTotal, 0)) {}

void ProgressAggregator::expect(std::vector<std::string> files) {
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) { return rsyncOrder(a, b); });
    expected = std::move(files);
    next = 0;
    currentPath = expected.empty() ? std::nullopt : std::optional(expected.front());
}

void ProgressAggregator::recordFile(const std::string& path) {
    filesDone = std::min(filesDone + 1, filesTotal);
    // A file rsync passed over is passed by the next one it names; a name
    // not expected moves nothing.
    const auto at = std::lower_bound(expected.begin() + static_cast<std::ptrdiff_t>(next), expected.end(), path,
                                     [](const std::string& a, const std::string& b) { return rsyncOrder(a, b); });
    if (at != expected.end() && *at == path) next = static_cast<std::size_t>(at - expected.begin()) + 1;
    currentPath = next < expected.size() ? std::optional(expected[next]) : std::nullopt;
}

bool ProgressAggregator::rsyncOrder(std::string_view a, std::string_view b) {
    while (true) {
        const std::size_t aEnd = a.find('/');
        const std::size_t bEnd = b.find('/');
        const std::string_view aName = a.substr(0, aEnd);
        const std::string_view bName = b.substr(0, bEnd);
        const bool aFolder = aEnd != std::string_view::npos;
        const bool bFolder = bEnd != std::string_view::npos;
        if (aFolder != bFolder) return bFolder;
        if (aName != bName) return aName < bName;
        if (!aFolder) return false;
        a.remove_prefix(aEnd + 1);
        b.remove_prefix(bEnd + 1);
    }
}

SyncProgress ProgressAggregator::update(std::int64_t bytes, double now) {
    // rsync restarts its count for a retried file; the bar must not go back.
    bytesDone = std::min(std::max(bytes, bytesDone), bytesTotal);

    while (!samples.empty() && now - samples.front().time > window) samples.pop_front();
    samples.push_back(Sample{now, bytesDone});

    const Sample& reference = samples.front();
    const double elapsed = now - reference.time;

    SyncProgress progress;
    progress.phase = SyncPhase::transferring;
    if (elapsed > 0) progress.bytesPerSecond = static_cast<double>(bytesDone - reference.bytes) / elapsed;
    progress.fraction = bytesTotal == 0 ? 1.0 : static_cast<double>(bytesDone) / static_cast<double>(bytesTotal);
    if (elapsed > 0 && progress.bytesPerSecond && *progress.bytesPerSecond > 0)
        progress.eta = static_cast<double>(bytesTotal - bytesDone) / *progress.bytesPerSecond;
    progress.bytesDone = bytesDone;
    progress.bytesTotal = bytesTotal;
    progress.filesDone = filesDone;
    progress.filesTotal = filesTotal;
    progress.currentPath = currentPath;
    progress.scannedItems = 0;
    return progress;
}

}  // namespace kelto
