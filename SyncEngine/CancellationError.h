#pragma once

#include <stdexcept>

namespace kelto {

// The run's stop was requested while an operation that polls it was working.
class CancellationError : public std::runtime_error {
public:
    CancellationError() : std::runtime_error("The operation was cancelled.") {}
};

}  // namespace kelto
