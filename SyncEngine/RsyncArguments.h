#pragma once

#include "SyncEngine/RsyncInvocation.h"

#include <string>
#include <vector>

namespace kelto {

// The one place that turns an invocation into rsync's argument list (the
// executable not included). Pure; never fails.
struct RsyncArguments {
    static std::vector<std::string> build(const RsyncInvocation& invocation);
};

}  // namespace kelto
