#include "SyncEngine/RsyncArguments.h"

namespace kelto {

std::vector<std::string> RsyncArguments::build(const RsyncInvocation&) { return {}; }

}  // namespace kelto
