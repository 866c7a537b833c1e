#include "Kelto_Sync/SyncAppBundleMarker.h"

#include "SyncEngine/RsyncLocator.h"

namespace kelto {

std::filesystem::path SyncAppBundleMarker::bundleRoot() {
    return RsyncLocator::mainBundleRoot();
}

}  // namespace kelto
