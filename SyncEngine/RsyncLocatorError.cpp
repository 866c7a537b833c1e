#include "SyncEngine/RsyncLocatorError.h"

namespace kelto {

const char* RsyncLocatorError::what() const noexcept {
    return "The operation couldn’t be completed. (KeltoSync.RsyncLocatorError error 0.)";
}

}  // namespace kelto
