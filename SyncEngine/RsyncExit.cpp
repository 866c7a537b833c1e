#include "SyncEngine/RsyncExit.h"

namespace kelto {

RsyncExit::RsyncExit(std::int32_t code, std::vector<std::string> stderrLines)
    : code(code), stderrTail(std::move(stderrLines)) {
    if (stderrTail.size() > tailLimit)
        stderrTail.erase(stderrTail.begin(), stderrTail.end() - static_cast<std::ptrdiff_t>(tailLimit));
}

}  // namespace kelto
