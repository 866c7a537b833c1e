#include "SyncEngine/internal/ExcludeFile.h"

#include "SyncEngine/PreflightSkips.h"

namespace kelto {

ExcludeFile::~ExcludeFile() {
    if (!path_.empty()) folder_.remove(path_);
}

void ExcludeFile::write(const std::vector<SkippedFile>& skipped) {
    path_ = folder_.write(PrivateListFolder::excludesPrefix, PreflightSkips::excludeFileContents(skipped));
}

}  // namespace kelto
