#pragma once

namespace kelto {

// Marks the calling thread, for as long as the value lives, as one that
// must never wait on the network: the windows' thread. What would wait
// there (a server's name resolving) answers with what is known already,
// and a later caller gets the answer.
class NonWaitingThread {
public:
    NonWaitingThread();
    ~NonWaitingThread();
    NonWaitingThread(const NonWaitingThread&) = delete;
    NonWaitingThread& operator=(const NonWaitingThread&) = delete;

    static bool isCurrent();
};

}  // namespace kelto
