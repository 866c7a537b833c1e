#pragma once

#include <functional>

namespace kelto::MainThread {

// Runs the work on the GUI thread from its event loop: later, never inside
// this call, whatever thread makes it.
void post(std::function<void()> work);

}  // namespace kelto::MainThread
