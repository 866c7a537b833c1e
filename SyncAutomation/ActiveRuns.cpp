#include "SyncAutomation/ActiveRuns.h"

namespace kelto {

void ActiveRuns::insert(const Uuid& token, std::shared_ptr<RunControl> control) {
    std::lock_guard guard(lock_);
    runs_[token] = std::move(control);
}

void ActiveRuns::remove(const Uuid& token) {
    std::shared_ptr<RunControl> leaving;  // released after unlocking
    std::lock_guard guard(lock_);
    const auto found = runs_.find(token);
    if (found == runs_.end()) return;
    leaving = std::move(found->second);
    runs_.erase(found);
}

std::vector<std::shared_ptr<RunControl>> ActiveRuns::controls() const {
    std::lock_guard guard(lock_);
    std::vector<std::shared_ptr<RunControl>> copy;
    copy.reserve(runs_.size());
    for (const auto& [token, control] : runs_) copy.push_back(control);
    return copy;
}

}  // namespace kelto
