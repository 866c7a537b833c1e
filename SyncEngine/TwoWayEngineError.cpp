#include "SyncEngine/TwoWayEngineError.h"

namespace kelto {

TwoWayEngineError TwoWayEngineError::endpointMissing(std::filesystem::path folder) {
    TwoWayEngineError error(Code::endpointMissing,
                            "The folder \"" + folder.string() + "\" does not exist or is not a folder.");
    error.folder_ = std::move(folder);
    return error;
}

TwoWayEngineError TwoWayEngineError::unsafePath(std::string path) {
    TwoWayEngineError error(Code::unsafePath, "The path \"" + path + "\" cannot be acted on safely.");
    error.path_ = std::move(path);
    return error;
}

TwoWayEngineError TwoWayEngineError::scanFailed(std::int32_t exitCode, std::vector<std::string> stderrTail) {
    TwoWayEngineError error(Code::scanFailed, "Listing a folder failed (rsync exit code " + std::to_string(exitCode) + ").");
    error.exitCode_ = exitCode;
    error.stderrTail_ = std::move(stderrTail);
    return error;
}

TwoWayEngineError TwoWayEngineError::unsupportedMode() {
    return TwoWayEngineError(Code::unsupportedMode, "The job is not a two-way job.");
}

TwoWayEngineError TwoWayEngineError::nestedEndpoints() {
    return TwoWayEngineError(Code::nestedEndpoints, "One folder of the job is the other or lies inside it.");
}

TwoWayEngineError TwoWayEngineError::readOnlyEndpoint() {
    return TwoWayEngineError(Code::readOnlyEndpoint, "A folder of the job is on a read-only volume.");
}

TwoWayEngineError TwoWayEngineError::reservedNotFolder(std::filesystem::path item) {
    TwoWayEngineError error(Code::reservedNotFolder, "\"" + item.string() +
                                                         "\" is not a folder; remove it so that Kelto Sync can keep "
                                                         "its archive there.");
    error.folder_ = std::move(item);
    return error;
}

TwoWayEngineError TwoWayEngineError::invalidRunID() {
    return TwoWayEngineError(Code::invalidRunID, "The run identifier is not valid.");
}

TwoWayEngineError TwoWayEngineError::folderReplaced(std::filesystem::path folder, Side side) {
    TwoWayEngineError error(Code::folderReplaced, std::string("Folder ") + (side == Side::a ? "A" : "B") + " \"" +
                                                      folder.string() +
                                                      "\" is no longer the folder that was planned: it was replaced, "
                                                      "or something was mounted over it, since planning. Nothing "
                                                      "more was synchronised.");
    error.folder_ = std::move(folder);
    return error;
}

TwoWayEngineError TwoWayEngineError::noRoomToHold(HoldingShortfall shortfall) {
    TwoWayEngineError error(Code::noRoomToHold, shortfall.description() + " Nothing more was synchronised.");
    error.folder_ = shortfall.folder;
    error.shortfall_ = std::move(shortfall);
    return error;
}

}  // namespace kelto
