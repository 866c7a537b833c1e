#include "tests/notifications/tray/FakeStatusNotifierWatcher.h"

#include <stdexcept>

namespace kelto::test {
namespace {

constexpr const char* watcherPath = "/StatusNotifierWatcher";
constexpr const char* watcherInterface = "org.kde.StatusNotifierWatcher";

}  // namespace

FakeStatusNotifierWatcher::FakeStatusNotifierWatcher(const std::string& address) : service_(address) {
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", &FakeStatusNotifierWatcher::registerItem,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_PROPERTY("IsStatusNotifierHostRegistered", "b", &FakeStatusNotifierWatcher::hostRegistered, 0, 0),
        SD_BUS_VTABLE_END,
    };
    if (sd_bus_add_object_vtable(service_.bus(), nullptr, watcherPath, watcherInterface, vtable, this) < 0)
        throw std::runtime_error("cannot add the watcher object");
    service_.start(watcherInterface);
}

std::vector<std::string> FakeStatusNotifierWatcher::items() const {
    const std::lock_guard guard(lock_);
    return items_;
}

void FakeStatusNotifierWatcher::activate(const std::string& item, int x, int y) {
    service_.perform([item, x, y](sd_bus* bus) {
        if (sd_bus_call_method_async(bus, nullptr, item.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                                     "Activate", nullptr, nullptr, "ii", x, y) < 0)
            throw std::runtime_error("cannot call Activate");
    });
}

int FakeStatusNotifierWatcher::registerItem(sd_bus_message* message, void* userdata, sd_bus_error*) {
    auto& self = *static_cast<FakeStatusNotifierWatcher*>(userdata);
    const char* item = nullptr;
    if (const int r = sd_bus_message_read(message, "s", &item); r < 0) return r;
    std::string name = item;
    // An item may give only an object path; its service is then the sender.
    if (name.empty() || name.front() == '/') name = sd_bus_message_get_sender(message);
    {
        const std::lock_guard guard(self.lock_);
        self.items_.push_back(name);
    }
    return sd_bus_reply_method_return(message, "");
}

int FakeStatusNotifierWatcher::hostRegistered(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                                              void*, sd_bus_error*) {
    return sd_bus_message_append(reply, "b", 1);
}

}  // namespace kelto::test
