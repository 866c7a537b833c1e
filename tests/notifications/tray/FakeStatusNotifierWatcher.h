#pragma once

#include "tests/support/BusService.h"

#include <mutex>
#include <string>
#include <vector>

namespace kelto::test {

// What Qt asks of org.kde.StatusNotifierWatcher, with a host registered,
// answering on a thread of its own (Qt asks it with blocking calls). It
// records the items that register and can click one, as a panel does.
class FakeStatusNotifierWatcher {
public:
    explicit FakeStatusNotifierWatcher(const std::string& address);

    std::vector<std::string> items() const;
    // Calls Activate(x, y) on the item's service, without waiting.
    void activate(const std::string& item, int x, int y);

private:
    static int registerItem(sd_bus_message* message, void* userdata, sd_bus_error*);
    static int hostRegistered(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                              sd_bus_error*);

    mutable std::mutex lock_;
    std::vector<std::string> items_;
    BusService service_;  // last: stops answering before the state goes
};

}  // namespace kelto::test
