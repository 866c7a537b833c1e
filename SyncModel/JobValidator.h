#pragma once

#include "SyncModel/SyncJob.h"
#include "SyncModel/ValidationReport.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kelto {

// Checks one job definition: what blocks it (errors) and what deserves the
// user's attention (warnings), each in a fixed order and each at most once.
// Holds no state and may run on any thread, but it may walk the whole source
// folder, so never on the UI thread.
struct JobValidator {
    // Given an endpoint path (tilde expanded), the same path with symbolic
    // links resolved, or nullopt to keep the standardised path.
    using Resolve = std::function<std::optional<std::string>(const std::string&)>;

    // Never fails. Calls `resolve` at most twice: source first, then
    // destination, and only for a non-empty path.
    static ValidationReport validate(const SyncJob& job, const Resolve& resolve);

    // Whether the path names, lies inside or contains a photo or video
    // library, whose internals must not be synchronised file by file.
    static bool isLibraryBundle(const std::string& path);

    // The user's home folder: $HOME, else the password database; empty when
    // neither knows it.
    static std::string homeFolder();

    // A leading "~" or "~user" replaced by that home folder; other paths as
    // they are.
    static std::string expandingTilde(std::string_view path);

    // Tilde expanded, repeated separators and "." components collapsed, the
    // trailing separator removed, ".." resolved (lexically, absolute paths
    // only), and a leading "/private" dropped when the shorter path exists.
    static std::string standardizedPath(std::string_view path);
};

}  // namespace kelto
