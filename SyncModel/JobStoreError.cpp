#include "SyncModel/JobStoreError.h"

#include <string>

namespace kelto {

JobStoreError JobStoreError::unsupportedVersion(std::int64_t version) {
    return JobStoreError(Code::unsupportedVersion, version,
                         "The jobs file has version " + std::to_string(version) +
                             ", which this version of Kelto Sync cannot read.");
}

}  // namespace kelto
