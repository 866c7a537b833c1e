#include "SyncEngine/ProgressAggregator.h"

#include <algorithm>

namespace kelto {

ProgressAggregator::ProgressAggregator(std::int64_t bytesTotal, std::int64_t filesTotal)
    : bytesTotal(std::max<std::int64_t>(bytesTotal, 0)), filesTotal(std::max<std::int64_t>(filesTotal, 0)) {}

void ProgressAggregator::recordFile(std::string path) {
    filesDone = std::min(filesDone + 1, filesTotal);
    currentPath = std::move(path);
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
