#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QObject>

#include "SyncAutomation/Async/MainExecutor.h"
#include "SyncModel/Support/NonWaitingThread.h"

#include <chrono>

namespace kelto {

// The main executor on the Qt event loop of the thread that builds it (the
// GUI thread). Delayed work is timed on the monotonic clock; a long wait is
// armed in steps, since a Qt timer takes at most an int of milliseconds.
// The thread is a NonWaitingThread while it lasts.
class QtMainExecutor final : public MainExecutor {
public:
    // The longest single timer; a whole day keeps far from the int limit.
    static constexpr std::chrono::milliseconds longestStep{std::chrono::hours(24)};

    QtMainExecutor();
    ~QtMainExecutor() override;

    void post(Work work) override;
    DelayedWork postAfter(double seconds, Work work) override;
    bool isCurrent() const override;

    // The timer to arm for what is left of a wait.
    static std::chrono::milliseconds nextStep(std::chrono::steady_clock::duration remaining);

private:
    struct Pending;
    void arm(const std::shared_ptr<Pending>& pending);

    QObject* context_;
    // The windows' thread never waits on the network.
    NonWaitingThread windowsThread_;
};

}  // namespace kelto
