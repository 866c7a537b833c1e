#include "SyncEngine/ExitClass.h"

#include <algorithm>

namespace kelto {

ExitClass exitClass(std::int32_t code, const std::vector<std::string>& stderrTail) {
    switch (code) {
    case 0: return ExitClass::success;
    case 20: return ExitClass::cancelled;
    case 23: return ExitClass::partial;
    case 24: return ExitClass::vanished;
    case 30:
    case 35: return ExitClass::timeout;
    case 11:
    case 12: {
        const bool full = std::any_of(stderrTail.begin(), stderrTail.end(), [](const std::string& line) {
            return line.find("No space left") != std::string::npos;
        });
        return full ? ExitClass::noSpace : ExitClass::failed;
    }
    default: return ExitClass::failed;
    }
}

}  // namespace kelto
