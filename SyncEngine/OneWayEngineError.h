#pragma once

#include "SyncEngine/HoldingShortfall.h"
#include "SyncEngine/Side.h"
#include "SyncModel/Support/Json.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelto {

// Why the one-way engine could not plan or run a job. An rsync exit of the
// transfer itself is never one of these: it comes back with the statistics.
class OneWayEngineError : public std::runtime_error {
public:
    enum class Code {
        endpointMissing,      // path(): the source or destination is not an existing folder
        scanFailed,           // exitCode(), stderrTail(): a dry run ended with a code other than 0 and 24
        unsupportedMode,      // a two-way job
        nestedEndpoints,      // the same folder, or one inside the other
        readOnlyDestination,  // the job's stored destination volume is read-only
        invalidRunID,         // not a well-formed run folder name
        reservedNotFolder,    // path(): a side's ".KeltoSync" that is a file, a link or anything but a folder
        skipTooLong,          // path(): a path the preflight skips, too long for rsync's exclude file
        folderReplaced,       // path(), side(): that side's path leads to another folder than the plan's
        noRoomToHold,         // shortfall(): B's disk lacks the room to hold what the run takes from mounts below B
    };

    static OneWayEngineError endpointMissing(std::filesystem::path path);
    static OneWayEngineError scanFailed(std::int32_t exitCode, std::vector<std::string> stderrTail);
    static OneWayEngineError unsupportedMode();
    static OneWayEngineError nestedEndpoints();
    static OneWayEngineError readOnlyDestination();
    static OneWayEngineError invalidRunID();
    static OneWayEngineError reservedNotFolder(std::filesystem::path path);
    static OneWayEngineError skipTooLong(std::string path);
    static OneWayEngineError folderReplaced(std::filesystem::path path, Side side);
    static OneWayEngineError noRoomToHold(HoldingShortfall shortfall);

    Code code() const { return code_; }
    const std::filesystem::path& path() const { return path_; }
    std::int32_t exitCode() const { return exitCode_; }
    const std::vector<std::string>& stderrTail() const { return stderrTail_; }
    Side side() const { return side_; }
    const HoldingShortfall& shortfall() const { return shortfall_; }

    // Same case and the same payload.
    friend bool operator==(const OneWayEngineError& a, const OneWayEngineError& b) {
        return a.code_ == b.code_ && a.path_ == b.path_ && a.exitCode_ == b.exitCode_ &&
               a.stderrTail_ == b.stderrTail_ && a.side_ == b.side_ && a.shortfall_ == b.shortfall_;
    }

private:
    OneWayEngineError(Code code, std::filesystem::path path, std::int32_t exitCode,
                      std::vector<std::string> stderrTail, Side side = Side::b, HoldingShortfall shortfall = {});

    Code code_;
    std::filesystem::path path_;
    std::int32_t exitCode_ = 0;
    std::vector<std::string> stderrTail_;
    Side side_;
    HoldingShortfall shortfall_;
};

template <>
struct EnumNames<OneWayEngineError::Code> {
    static constexpr std::array<std::string_view, 10> names{
        "endpointMissing", "scanFailed",   "unsupportedMode",   "nestedEndpoints", "readOnlyDestination",
        "invalidRunID",    "reservedNotFolder", "skipTooLong", "folderReplaced", "noRoomToHold"};
};

}  // namespace kelto
