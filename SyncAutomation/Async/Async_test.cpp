#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/Async/NewestValue.h"
#include "SyncAutomation/Async/ObservedValue.h"
#include "SyncAutomation/Async/ObserverList.h"
#include "SyncAutomation/Async/SerialQueue.h"
#include "SyncAutomation/Async/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace kelto {
namespace {

TEST(SerialQueue, RunsWorkInOrderOnOneThreadAndDrainsOnDestructionAsAWorkerPoolDoes) {
    std::vector<std::pair<int, std::thread::id>> ran, expected;
    std::atomic<int> count{0};
    {
        SerialQueue queue;
        WorkerPool pool(3);
        for (int i = 0; i < 200; ++i) {
            queue.post([&, i] { ran.emplace_back(i, std::this_thread::get_id()); });
            pool.post([&] { ++count; });
        }
        EXPECT_FALSE(queue.isCurrent());
        queue.post([&] { EXPECT_TRUE(queue.isCurrent()); });
    }
    for (int i = 0; i < 200; ++i) expected.emplace_back(i, ran.front().second);
    EXPECT_EQ(ran, expected);
    EXPECT_EQ(count, 200);
}

TEST(Observers, ANewestValueKeepsOnlyTheNewestPendingAListDeliversEveryValueInOrderAndAnObservedValueAtOnce) {
    ManualClock clock;
    ManualExecutor main(clock);
    NewestValue<int> value(7);
    std::vector<int> seen;
    auto subscription = value.observe(main, [&](int v) { seen.push_back(v); });
    main.runPending();
    EXPECT_EQ(seen, std::vector<int>{7});
    for (int v : {8, 9, 10}) value.set(v);  // the observer has not run: it keeps only the newest
    main.runPending();
    EXPECT_EQ(seen, (std::vector<int>{7, 10}));
    EXPECT_FALSE(value.setIfChanged(10));
    main.runPending();
    EXPECT_EQ(seen, (std::vector<int>{7, 10}));
    value.set(11);
    subscription.reset();  // ended before delivery: nothing more arrives
    main.runPending();
    EXPECT_EQ(seen, (std::vector<int>{7, 10}));
    SerialQueue queue;
    ObserverList<int> list;
    std::vector<int> onMain, onQueue;
    std::atomic<int> queueCount{0};
    auto first = list.add(main, [&](int v) { onMain.push_back(v); });
    auto second = list.add(queue, [&](int v) { onQueue.push_back(v), ++queueCount; });
    for (int i = 0; i < 5; ++i) list.publish(i);
    main.runPending();
    EXPECT_EQ(onMain, (std::vector<int>{0, 1, 2, 3, 4}));
    first.reset();
    list.publish(5);
    main.runPending();
    EXPECT_EQ(onMain.size(), 5u);
    EXPECT_EQ(list.size(), 1u);
    while (queueCount < 6) std::this_thread::yield();
    EXPECT_EQ(onQueue, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    // An observed value tells its observers at once, of changes only unless told to always.
    ObservedValue<std::string> text("a");
    std::vector<std::string> told;
    first = text.observe([&] { told.push_back("first " + text.get()); });
    second = text.observe([&] { told.push_back("second " + text.get()); });
    EXPECT_FALSE(text.setIfChanged("a"));
    EXPECT_TRUE(text.setIfChanged("b"));
    EXPECT_EQ(told, (std::vector<std::string>{"first b", "second b"}));
    told.clear();
    text.set("b");
    text.modify([](std::string& held) { held += "c"; });
    EXPECT_EQ(told, (std::vector<std::string>{"first b", "second b", "first bc", "second bc"}));
    // An observer that ends a later one while being told: that one hears no more.
    first.reset();
    second.reset();
    told.clear();
    Subscription later;
    auto ending = text.observe([&] {
        told.push_back("ending");
        later.reset();
    });
    later = text.observe([&] { told.push_back("later"); });
    text.set("d");
    EXPECT_EQ(told, std::vector<std::string>{"ending"});
    // A subscription may outlive the value.
    Subscription kept;
    {
        ObservedValue<int> gone;
        kept = gone.observe([] {});
    }
    kept.reset();
}

}  // namespace
}  // namespace kelto
