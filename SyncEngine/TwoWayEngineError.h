#pragma once

#include "SyncEngine/HoldingShortfall.h"
#include "SyncEngine/Side.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelto {

// Why the two-way engine refused to plan or run.
class TwoWayEngineError : public std::runtime_error {
public:
    enum class Code {
        endpointMissing,
        unsafePath,
        scanFailed,
        unsupportedMode,
        nestedEndpoints,
        readOnlyEndpoint,
        invalidRunID,
        reservedNotFolder,  // a side's ".KeltoSync" is a file, a link or anything but a folder
        folderReplaced,     // a side's path leads to another folder than the plan's
        noRoomToHold,       // a side's disk lacks the room to hold what a copy replaces on mounts below it
    };

    static TwoWayEngineError endpointMissing(std::filesystem::path folder);
    static TwoWayEngineError unsafePath(std::string path);
    static TwoWayEngineError scanFailed(std::int32_t exitCode, std::vector<std::string> stderrTail);
    static TwoWayEngineError unsupportedMode();
    static TwoWayEngineError nestedEndpoints();
    static TwoWayEngineError readOnlyEndpoint();
    static TwoWayEngineError invalidRunID();
    static TwoWayEngineError reservedNotFolder(std::filesystem::path item);
    static TwoWayEngineError folderReplaced(std::filesystem::path folder, Side side);
    static TwoWayEngineError noRoomToHold(HoldingShortfall shortfall);

    Code code() const { return code_; }
    // endpointMissing, reservedNotFolder, folderReplaced, noRoomToHold
    const std::filesystem::path& folder() const { return folder_; }
    const std::string& path() const { return path_; }                // unsafePath
    std::int32_t exitCode() const { return exitCode_; }              // scanFailed
    const std::vector<std::string>& stderrTail() const { return stderrTail_; }  // scanFailed
    const HoldingShortfall& shortfall() const { return shortfall_; }            // noRoomToHold

    friend bool operator==(const TwoWayEngineError& x, const TwoWayEngineError& y) {
        return x.code_ == y.code_ && x.folder_ == y.folder_ && x.path_ == y.path_ && x.exitCode_ == y.exitCode_ &&
               x.stderrTail_ == y.stderrTail_ && x.shortfall_ == y.shortfall_;
    }

private:
    TwoWayEngineError(Code code, const std::string& description) : std::runtime_error(description), code_(code) {}

    Code code_;
    std::filesystem::path folder_;
    std::string path_;
    std::int32_t exitCode_ = 0;
    std::vector<std::string> stderrTail_;
    HoldingShortfall shortfall_;
};

}  // namespace kelto
