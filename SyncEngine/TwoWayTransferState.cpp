#include "SyncEngine/TwoWayTransferState.h"

#include <cerrno>
#include <limits>
#include <unistd.h>

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

std::filesystem::path descriptorPath(int fd) {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? std::filesystem::path("run log") : path;
}

}  // namespace

TwoWayTransferState::TwoWayTransferState(const SyncPlan& plan, int logDescriptor, ProgressHandler onProgress)
    : handle(logDescriptor),
      onProgress(std::move(onProgress)),
      aggregator(totalSize(plan), static_cast<std::int64_t>(plan.copies.size())),
      lastEmission(-std::numeric_limits<double>::infinity()),
      total(totalSize(plan)) {
    stats.skipped = plan.skipped;
}

void TwoWayTransferState::writeLogLine(std::string_view line) {
    if (logError) return;
    std::string bytes;
    bytes.reserve(line.size() + 1);
    bytes.append(line);
    bytes.push_back('\n');
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const ssize_t n = ::write(handle, rest.data(), rest.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            logError.emplace(errno, "Could not write the run log", descriptorPath(handle));
            return;
        }
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace kelto
