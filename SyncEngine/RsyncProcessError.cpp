#include "SyncEngine/RsyncProcessError.h"

#include <cstring>
#include <string>

namespace kelto {

RsyncProcessError::RsyncProcessError(Code code, int errorNumber, std::filesystem::path executable)
    : std::runtime_error((code == Code::launchFailed ? "Could not start " : "Lost track of ") + executable.string() +
                         ": " + std::strerror(errorNumber)),
      code_(code),
      errorNumber_(errorNumber),
      executable_(std::move(executable)) {}

}  // namespace kelto
