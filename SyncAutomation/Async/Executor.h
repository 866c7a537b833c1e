#pragma once

#include <functional>

namespace kelto {

// Something that runs posted work, in the order posted unless it says
// otherwise. post() may be called from any thread.
class Executor {
public:
    using Work = std::function<void()>;

    virtual ~Executor() = default;
    virtual void post(Work work) = 0;

protected:
    Executor() = default;
    Executor(const Executor&) = delete;
    Executor& operator=(const Executor&) = delete;
};

}  // namespace kelto
