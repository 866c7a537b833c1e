#include "SyncModel/ValidationReport.h"

namespace kelto {

std::string localizationKey(ValidationIssue issue) { return "validation." + std::string(enumName(issue)); }
std::string localizationKey(ValidationWarning warning) { return "warning." + std::string(enumName(warning)); }

}  // namespace kelto
