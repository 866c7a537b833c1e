#include "SyncAutomation/RunControl.h"

#include "SyncModel/Support/PathComponents.h"

#include <algorithm>

namespace kelto {

namespace fs = std::filesystem;

bool RunControl::holdsRoot(const fs::path& volume) const {
    const auto volumeParts = PathComponents::of(volume);
    return std::any_of(roots_.begin(), roots_.end(), [&](const fs::path& root) {
        return PathComponents::isPrefix(volumeParts, PathComponents::of(root));
    });
}

RunControl::Cancellation RunControl::setRoots(std::vector<fs::path> roots) {
    std::lock_guard guard(lock_);
    roots_ = std::move(roots);
    if (finished_ || std::none_of(unmountedRoots_.begin(), unmountedRoots_.end(),
                                  [&](const fs::path& volume) { return holdsRoot(volume); }))
        return nullptr;
    cancelled_ = true;
    interrupted_ = true;
    return cancellation_;
}

RunControl::Cancellation RunControl::cancel() {
    std::lock_guard guard(lock_);
    if (finished_) return nullptr;
    cancelled_ = true;
    return cancellation_;
}

bool RunControl::setCancellation(Cancellation cancellation) {
    std::lock_guard guard(lock_);
    if (!finished_) cancellation_ = std::move(cancellation);
    return cancelled_;
}

RunControl::Cancellation RunControl::volumeWillUnmount(const fs::path& volume) {
    std::lock_guard guard(lock_);
    if (finished_) return nullptr;
    unmountedRoots_.push_back(volume);
    if (!holdsRoot(volume)) return nullptr;
    cancelled_ = true;
    interrupted_ = true;
    return cancellation_;
}

void RunControl::commit() {
    std::lock_guard guard(lock_);
    finished_ = true;
    cancellation_ = nullptr;
    roots_.clear();
    unmountedRoots_.clear();
    cancelled_ = false;
    interrupted_ = false;
}

std::optional<RunOutcome> RunControl::finish() {
    std::lock_guard guard(lock_);
    finished_ = true;
    cancellation_ = nullptr;
    roots_.clear();
    if (interrupted_) return RunOutcome::interrupted();
    if (cancelled_) return RunOutcome::cancelled();
    return std::nullopt;
}

}  // namespace kelto
