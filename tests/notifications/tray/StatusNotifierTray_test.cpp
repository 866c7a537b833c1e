// Runs on Xvfb with a session bus of its own (run-with-tray-bus.sh).
#include <QCursor>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>

#include "Kelto_Sync/Tray/TrayPresence.h"
#include "tests/support/BusService.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace kelto {
namespace {

constexpr const char* watcherPath = "/StatusNotifierWatcher";
constexpr const char* watcherInterface = "org.kde.StatusNotifierWatcher";

// Answers on a thread of its own: Qt asks with blocking calls.
class FakeStatusNotifierWatcher {
public:
    explicit FakeStatusNotifierWatcher(const std::string& address) : service_(address) {
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
    std::vector<std::string> items() const {
        const std::lock_guard guard(lock_);
        return items_;
    }
    void activate(const std::string& item, int x, int y) {
        service_.perform([item, x, y](sd_bus* bus) {
            if (sd_bus_call_method_async(bus, nullptr, item.c_str(), "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                                         "Activate", nullptr, nullptr, "ii", x, y) < 0)
                throw std::runtime_error("cannot call Activate");
        });
    }

private:
    static int registerItem(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& self = *static_cast<FakeStatusNotifierWatcher*>(userdata);
        const char* item = nullptr;
        if (const int r = sd_bus_message_read(message, "s", &item); r < 0) return r;
        std::string name = item;
        // An item may give only an object path; its service is then the sender.
        if (name.empty() || name.front() == '/') name = sd_bus_message_get_sender(message);
        const std::lock_guard guard(self.lock_);
        self.items_.push_back(name);
        return sd_bus_reply_method_return(message, "");
    }
    static int hostRegistered(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                              sd_bus_error*) {
        return sd_bus_message_append(reply, "b", 1);
    }
    mutable std::mutex lock_;
    std::vector<std::string> items_;
    test::BusService service_;  // last: stops answering before the state goes
};

TEST(StatusNotifierTray, TheIconRegistersWithTheWatcherAndItsActivateOpensThePopupAtTheCursor) {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_NE(address, nullptr) << "run under dbus-run-session";
    // Before any tray icon exists: Qt looks for the watcher once.
    FakeStatusNotifierWatcher watcher(address);
    TrayPresence tray({}, [] { return new QLabel(QStringLiteral("content")); }, SyncStrings());
    ASSERT_TRUE(tray.show());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items().empty(); }, 5'000));
    QCursor::setPos(200, 150);
    QSignalSpy opened(&tray, &TrayPresence::popupOpened);
    watcher.activate(watcher.items().front(), 200, 150);
    ASSERT_TRUE(opened.wait(5'000));
    ASSERT_NE(tray.popup(), nullptr);
    // The D-Bus tray reports no geometry: the popup hangs from the cursor.
    EXPECT_TRUE(tray.icon().geometry().isEmpty());
    EXPECT_EQ(tray.popup()->pos().y(), QCursor::pos().y() + 1);
}

}  // namespace
}  // namespace kelto
