#include "SyncModel/Support/NonWaitingThread.h"

namespace kelto {

namespace {
thread_local int marks = 0;  // marks may nest
}  // namespace

NonWaitingThread::NonWaitingThread() { ++marks; }

NonWaitingThread::~NonWaitingThread() { --marks; }

bool NonWaitingThread::isCurrent() { return marks > 0; }

}  // namespace kelto
