#include "Kelto_Sync/App/AppEntry.h"

namespace kelto {

bool AppEntry::isRenderTestRun(const QProcessEnvironment& environment) {
    return environment.contains(renderTestsVariable) && environment.value(renderTestsVariable) == QStringLiteral("1");
}

}  // namespace kelto
