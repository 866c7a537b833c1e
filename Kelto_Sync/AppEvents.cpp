#include "Kelto_Sync/AppEvents.h"

namespace kelto {

AppEvents& AppEvents::shared() {
    static AppEvents* events = new AppEvents;  // lives until the process ends
    return *events;
}

}  // namespace kelto
