#pragma once

#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Uuid.h"

#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace date {
class time_zone;
}

namespace kelto {

// Takes items out of a synchronised folder: into the run folder at the same
// relative path when the job archives, else deletes them.
struct ArchiveMover {
    // A path not archived or removed, and why.
    struct Failure {
        std::string path;
        FileError reason;
    };

    // Returns the paths not archived or removed, in the given order, each
    // with its reason: the file system's failure, or EINVAL for an unsafe
    // path or a bad run identifier, ECANCELED once stopped. An item already
    // gone is no failure. A move never replaces what the run folder already
    // holds. Once `stop` is requested, every remaining path is returned
    // untouched. Never throws.
    static std::vector<Failure> archive(const std::vector<std::string>& paths, const std::filesystem::path& root,
                                        const Uuid& jobID, const std::string& runID, bool archiveEnabled,
                                        std::stop_token stop = {}, const ::date::time_zone* zone = nullptr);
    // The same, asking `cancelled` before each path instead of a stop token.
    static std::vector<Failure> archive(const std::vector<std::string>& paths, const std::filesystem::path& root,
                                        const Uuid& jobID, const std::string& runID, bool archiveEnabled,
                                        const std::function<bool()>& cancelled,
                                        const ::date::time_zone* zone = nullptr);

    // Removes the given folders that are empty, deepest first. A folder that
    // is not empty or already gone is left alone; every other failure (no
    // permission, a read-only volume) is returned so the run can report it,
    // as a failure to remove that folder (its full path).
    // Once `stop` is requested, the remaining folders are left.
    static std::vector<FileError> removeEmptyDirectories(const std::vector<std::string>& paths,
                                                         const std::filesystem::path& root, std::stop_token stop = {});
    static std::vector<FileError> removeEmptyDirectories(const std::vector<std::string>& paths,
                                                         const std::filesystem::path& root,
                                                         const std::function<bool()>& cancelled);
};

}  // namespace kelto
