#include "Kelto_Sync/App/QtMainExecutor.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <mutex>

namespace kelto {

struct QtMainExecutor::Pending {
    std::chrono::steady_clock::time_point deadline;
    std::mutex lock;
    Work work;  // empty once cancelled or started
};

QtMainExecutor::QtMainExecutor() : context_(new QObject) {}

QtMainExecutor::~QtMainExecutor() { delete context_; }

void QtMainExecutor::post(Work work) {
    QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
}

bool QtMainExecutor::isCurrent() const { return QThread::currentThread() == context_->thread(); }

std::chrono::milliseconds QtMainExecutor::nextStep(std::chrono::steady_clock::duration remaining) {
    using namespace std::chrono;
    if (remaining <= steady_clock::duration::zero()) return milliseconds(0);
    // Rounded up, so a step never ends just before the deadline.
    const milliseconds step = ceil<milliseconds>(remaining);
    return step < longestStep ? step : longestStep;
}

DelayedWork QtMainExecutor::postAfter(double seconds, Work work) {
    using namespace std::chrono;
    if (!(seconds > 0)) seconds = 0;  // NaN and negatives run at once
    // Beyond a few centuries the clock's arithmetic would overflow.
    seconds = std::min(seconds, 1.0e10);
    auto pending = std::make_shared<Pending>();
    pending->deadline = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(seconds));
    pending->work = std::move(work);
    if (isCurrent()) {
        arm(pending);
    } else {
        post([this, pending] { arm(pending); });
    }
    std::weak_ptr<Pending> weak = pending;
    return DelayedWork([weak] {
        if (const auto found = weak.lock()) {
            Work dropped;
            {
                const std::lock_guard guard(found->lock);
                dropped = std::move(found->work);
                found->work = nullptr;
            }
            // `dropped` (the work's captures) goes outside the lock.
        }
    });
}

void QtMainExecutor::arm(const std::shared_ptr<Pending>& pending) {
    const auto step = nextStep(pending->deadline - std::chrono::steady_clock::now());
    QTimer::singleShot(static_cast<int>(step.count()), Qt::PreciseTimer, context_, [this, pending] {
        {
            const std::lock_guard guard(pending->lock);
            if (!pending->work) return;
        }
        if (std::chrono::steady_clock::now() < pending->deadline) {
            arm(pending);
            return;
        }
        Work work;
        {
            const std::lock_guard guard(pending->lock);
            work = std::move(pending->work);
            pending->work = nullptr;
        }
        // Cancelling from inside finds nothing left to drop.
        if (work) work();
    });
}

}  // namespace kelto
