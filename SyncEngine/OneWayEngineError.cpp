#include "SyncEngine/OneWayEngineError.h"

#include "SyncEngine/RsyncRunner.h"

#include <fmt/format.h>

namespace kelto {

namespace {

// A path of thousands of bytes would swamp the message: its start and end
// tell it apart well enough. Cut between UTF-8 sequences, never inside one.
std::string shortened(const std::string& path) {
    constexpr std::size_t keep = 60;
    if (path.size() <= 2 * keep + 3) return path;
    auto isContinuation = [&](std::size_t i) { return (static_cast<unsigned char>(path[i]) & 0xC0) == 0x80; };
    std::size_t head = keep, tail = path.size() - keep;
    while (head > 0 && isContinuation(head)) --head;
    while (tail < path.size() && isContinuation(tail)) ++tail;
    return path.substr(0, head) + "\u2026" + path.substr(tail);
}

std::string describe(OneWayEngineError::Code code, const std::filesystem::path& path, std::int32_t exitCode,
                     const std::vector<std::string>& tail, Side side, const HoldingShortfall& shortfall) {
    using Code = OneWayEngineError::Code;
    switch (code) {
    case Code::endpointMissing:
        return "The folder \"" + path.string() + "\" does not exist or is not a folder.";
    case Code::scanFailed: {
        if (exitCode == RsyncRunner::cancelledCode) return "Comparing the folders was cancelled.";
        std::string text = "rsync could not compare the folders (exit code " + std::to_string(exitCode) + ")";
        // The last line usually names the cause; earlier ones are in the tail.
        return tail.empty() ? text + "." : text + ": " + tail.back();
    }
    case Code::unsupportedMode:
        return "A two-way job cannot be run as a mirror or copy.";
    case Code::nestedEndpoints:
        return "The source and destination are the same folder, or one lies inside the other.";
    case Code::readOnlyDestination:
        return "The destination volume is read-only.";
    case Code::invalidRunID:
        return "The run identifier is not a valid run folder name.";
    case Code::reservedNotFolder:
        return fmt::format("\"{}\" is not a folder; remove it so that Kelto Sync can keep its archive there.",
                           path.string());
    case Code::skipTooLong:
        return fmt::format("\"{}\" cannot be copied to the destination and must be skipped, but its path is too "
                           "long for rsync to skip it; shorten the path.",
                           shortened(path.string()));
    case Code::folderReplaced:
        return fmt::format("The {} \"{}\" is no longer the folder that was planned: it was replaced, or something "
                           "was mounted over it, since planning. Nothing was synchronised.",
                           side == Side::a ? "source" : "destination", path.string());
    case Code::noRoomToHold:
        return shortfall.description() + " Nothing was synchronised.";
    }
    return "The sync could not be carried out.";
}

}  // namespace

OneWayEngineError::OneWayEngineError(Code code, std::filesystem::path path, std::int32_t exitCode,
                                     std::vector<std::string> stderrTail, Side side, HoldingShortfall shortfall)
    : std::runtime_error(describe(code, path, exitCode, stderrTail, side, shortfall)),
      code_(code),
      path_(std::move(path)),
      exitCode_(exitCode),
      stderrTail_(std::move(stderrTail)),
      side_(side),
      shortfall_(std::move(shortfall)) {}

OneWayEngineError OneWayEngineError::endpointMissing(std::filesystem::path path) {
    return OneWayEngineError(Code::endpointMissing, std::move(path), 0, {});
}
OneWayEngineError OneWayEngineError::scanFailed(std::int32_t exitCode, std::vector<std::string> stderrTail) {
    return OneWayEngineError(Code::scanFailed, {}, exitCode, std::move(stderrTail));
}
OneWayEngineError OneWayEngineError::unsupportedMode() { return OneWayEngineError(Code::unsupportedMode, {}, 0, {}); }
OneWayEngineError OneWayEngineError::nestedEndpoints() { return OneWayEngineError(Code::nestedEndpoints, {}, 0, {}); }
OneWayEngineError OneWayEngineError::readOnlyDestination() {
    return OneWayEngineError(Code::readOnlyDestination, {}, 0, {});
}
OneWayEngineError OneWayEngineError::invalidRunID() { return OneWayEngineError(Code::invalidRunID, {}, 0, {}); }
OneWayEngineError OneWayEngineError::reservedNotFolder(std::filesystem::path path) {
    return OneWayEngineError(Code::reservedNotFolder, std::move(path), 0, {});
}
OneWayEngineError OneWayEngineError::skipTooLong(std::string path) {
    return OneWayEngineError(Code::skipTooLong, std::move(path), 0, {});
}

OneWayEngineError OneWayEngineError::folderReplaced(std::filesystem::path path, Side side) {
    return OneWayEngineError(Code::folderReplaced, std::move(path), 0, {}, side);
}

OneWayEngineError OneWayEngineError::noRoomToHold(HoldingShortfall shortfall) {
    std::filesystem::path folder = shortfall.folder;
    return OneWayEngineError(Code::noRoomToHold, std::move(folder), 0, {}, Side::b, std::move(shortfall));
}

}  // namespace kelto
