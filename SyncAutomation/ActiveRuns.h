#pragma once

#include "SyncAutomation/RunControl.h"
#include "SyncModel/Support/Uuid.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace kelto {

// The coordinator's runs between their registration and their end, by run
// token. The table's lock guards the table alone and is never held while a
// control's lock is taken: visitors copy the controls first.
class ActiveRuns {
public:
    ActiveRuns() = default;
    ActiveRuns(const ActiveRuns&) = delete;
    ActiveRuns& operator=(const ActiveRuns&) = delete;

    void insert(const Uuid& token, std::shared_ptr<RunControl> control);
    void remove(const Uuid& token);
    std::vector<std::shared_ptr<RunControl>> controls() const;

private:
    mutable std::mutex lock_;
    std::unordered_map<Uuid, std::shared_ptr<RunControl>> runs_;
};

}  // namespace kelto
