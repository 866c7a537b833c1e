#include "SyncModel/JobValidator.h"

#include "SyncModel/Support/SafeFileSystem.h"
#include "SyncModel/Support/Unicode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <linux/magic.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kelto {

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 2> libraryBundleExtensions{"photoslibrary", "fcpbundle"};

// Folders that macOS presents as single items. On Linux they are plain
// folders, but a synchronised folder often comes from a Mac, and the libraries
// we look for never sit inside an application or plug-in, so the walk does
// not descend into them. (The libraries themselves are packages too, but
// finding one ends the walk anyway.)
constexpr std::array<std::string_view, 5> packageExtensions{"app", "bundle", "framework", "plugin", "kext"};

// Mount points of removable media: macOS's and the two Linux conventions
// (udisks2 mounts under /media/<user> or /run/media/<user>).
constexpr std::array<std::string_view, 3> removableMountRoots{"/Volumes/", "/media/", "/run/media/"};

// The text after the last dot of a file name, in ASCII lower case (enough
// for the tables above, which are ASCII).
std::string lowercasedExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string extension(name.substr(dot + 1));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return extension;
}

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& table, const std::string& word) {
    return std::find(table.begin(), table.end(), word) != table.end();
}

// Kernel file systems hold nothing of the user's: without this, a source of
// "/" would have the walk wander through every process and device.
bool isKernelFileSystem(const fs::path& folder) {
    std::optional<std::int64_t> type;
    try {
        type = SafeFileSystem::fileSystemType(folder);
    } catch (const FileError&) {
        return false;  // not known to be one
    }
    if (!type) return false;
    switch (static_cast<std::uint32_t>(*type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEVPTS_SUPER_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case BPF_FS_MAGIC:
        case PSTOREFS_MAGIC:
        case BINFMTFS_MAGIC:
            return true;
        default:
            return false;
    }
}

std::optional<std::string> homeOfUser(const std::string& user) {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* result = nullptr;
    const int error = user.empty() ? ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result)
                                   : ::getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &result);
    if (error != 0 || result == nullptr || entry.pw_dir == nullptr || entry.pw_dir[0] == '\0') return std::nullopt;
    return std::string(entry.pw_dir);
}

// Standardisation without the tilde step.
std::string normalized(std::string_view path) {
    if (path.empty()) return {};
    const bool absolute = path.front() == '/';
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == ".." && absolute) {
            if (!parts.empty()) parts.pop_back();  // ".." of the root is the root
            continue;
        }
        parts.push_back(part);
    }

    auto join = [](auto first, auto last, bool leadingSlash) {
        std::string out;
        for (auto it = first; it != last; ++it) {
            if (leadingSlash || it != first) out += '/';
            out += *it;
        }
        return out;
    };
    if (!absolute) return parts.empty() ? std::string(".") : join(parts.begin(), parts.end(), false);
    if (parts.empty()) return "/";
    if (parts.size() > 1 && parts.front() == "private") {
        std::string shorter = join(parts.begin() + 1, parts.end(), true);
        struct stat info {};
        if (::stat(shorter.c_str(), &info) == 0) return shorter;
    }
    return join(parts.begin(), parts.end(), true);
}

// Path comparison: exact and case-sensitive, canonically equivalent Unicode
// counting as equal. Both arguments are already in normal form C.
bool liesInside(const std::string& path, const std::string& folder) {
    if (folder == "/") return path.size() > 1 && path.front() == '/';
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

bool equalsOrLiesInside(const std::string& path, const std::string& folder) {
    return path == folder || liesInside(path, folder);
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

bool underRemovableMountRoot(const std::string& path) {
    return std::any_of(removableMountRoots.begin(), removableMountRoots.end(),
                       [&](std::string_view root) { return startsWith(path, root); });
}

}  // namespace

std::string JobValidator::homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') return home;
    return homeOfUser({}).value_or(std::string());
}

std::string JobValidator::expandingTilde(std::string_view path) {
    if (path.empty() || path.front() != '~') return std::string(path);
    const std::size_t slash = std::min(path.find('/'), path.size());
    const std::string user(path.substr(1, slash - 1));
    const std::optional<std::string> home = user.empty() ? std::optional<std::string>(homeFolder()) : homeOfUser(user);
    if (!home || home->empty()) return std::string(path);
    std::string out = *home;
    if (slash < path.size()) {
        if (!out.empty() && out.back() == '/') out.pop_back();
        out += path.substr(slash);
    }
    return out;
}

std::string JobValidator::standardizedPath(std::string_view path) { return normalized(expandingTilde(path)); }

bool JobValidator::isLibraryBundle(const std::string& path) {
    for (const fs::path& component : fs::path(path))
        if (contains(libraryBundleExtensions, lowercasedExtension(component.native()))) return true;

    // Depth first, hidden items included, links never followed, folders that
    // cannot be read skipped; the first match ends the walk.
    std::vector<fs::path> pending{fs::path(path)};
    while (!pending.empty()) {
        const fs::path folder = std::move(pending.back());
        pending.pop_back();
        if (isKernelFileSystem(folder)) continue;

        std::error_code error;
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
        for (; !error && it != fs::directory_iterator(); it.increment(error)) {
            const std::string extension = lowercasedExtension(it->path().filename().native());
            if (contains(libraryBundleExtensions, extension)) return true;
            std::error_code typeError;
            if (it->symlink_status(typeError).type() == fs::file_type::directory && !typeError &&
                !contains(packageExtensions, extension))
                pending.push_back(it->path());
        }
    }
    return false;
}

ValidationReport JobValidator::validate(const SyncJob& job, const Resolve& resolve) {
    ValidationReport report;
    auto addIssue = [&](ValidationIssue issue) {
        if (std::find(report.errors.begin(), report.errors.end(), issue) == report.errors.end())
            report.errors.push_back(issue);
    };

    if (Unicode::trimWhitespace(job.name).empty()) addIssue(ValidationIssue::emptyName);
    if (job.source.path.empty()) addIssue(ValidationIssue::missingSource);
    if (job.destination.path.empty()) addIssue(ValidationIssue::missingDestination);

    // Every path below is kept in normal form C so that plain byte comparison
    // is comparison by canonical equivalence.
    const std::string standardSource = Unicode::nfc(standardizedPath(job.source.path));
    const std::string standardDestination = Unicode::nfc(standardizedPath(job.destination.path));
    auto resolvedPath = [&](const std::string& path, const std::string& standardised) -> std::string {
        if (path.empty()) return {};
        const std::optional<std::string> resolved = resolve ? resolve(expandingTilde(path)) : std::nullopt;
        return Unicode::nfc(standardizedPath(resolved ? *resolved : standardised));
    };
    const std::string resolvedSource = resolvedPath(job.source.path, standardSource);
    const std::string resolvedDestination = resolvedPath(job.destination.path, standardDestination);

    if (!resolvedSource.empty() && !resolvedDestination.empty()) {
        // Both folders on one volume that ignores case: two spellings of a
        // name are one folder there.
        const VolumeIdentity &volumeA = job.source.volume, &volumeB = job.destination.volume;
        const bool foldCase = !volumeA.caseSensitive && !volumeB.caseSensitive && volumeA.matches(volumeB);
        const std::string source = foldCase ? Unicode::caseFolded(resolvedSource) : resolvedSource;
        const std::string destination = foldCase ? Unicode::caseFolded(resolvedDestination) : resolvedDestination;
        if (source == destination)
            addIssue(ValidationIssue::samePath);
        else if (liesInside(destination, source) || liesInside(source, destination))
            addIssue(ValidationIssue::nested);
    }

    // The stored flags decide; the volumes themselves are not inspected.
    if (job.mode == SyncMode::twoWay) {
        if (job.source.volume.isReadOnly || job.destination.volume.isReadOnly)
            addIssue(ValidationIssue::twoWayReadOnly);
    } else if (job.destination.volume.isReadOnly) {
        addIssue(ValidationIssue::destinationReadOnly);
    }

    if (const auto& days = job.options.archiveRetentionDays; days && (*days < 1 || *days > 365))
        addIssue(ValidationIssue::retentionOutOfRange);

    for (const Trigger& trigger : job.triggers)
        if (const auto* every = trigger.as<Trigger::Every>())
            if (auto issue = Trigger::intervalIssue(every->value, every->unit)) addIssue(*issue);

    if (const std::string home = normalized(homeFolder()); !home.empty()) {
        const std::array<std::string, 2> cloudRoots{Unicode::nfc(normalized(home + "/Library/Mobile Documents")),
                                                    Unicode::nfc(normalized(home + "/Library/CloudStorage"))};
        const std::array<const std::string*, 4> paths{&standardSource, &standardDestination, &resolvedSource,
                                                      &resolvedDestination};
        const bool inCloud = std::any_of(paths.begin(), paths.end(), [&](const std::string* path) {
            return std::any_of(cloudRoots.begin(), cloudRoots.end(),
                               [&](const std::string& root) { return equalsOrLiesInside(*path, root); });
        });
        if (inCloud) report.warnings.push_back(ValidationWarning::cloudFolder);
    }

    if (job.mode == SyncMode::twoWay && job.source.volume.caseSensitive != job.destination.volume.caseSensitive)
        report.warnings.push_back(ValidationWarning::caseSensitivityMismatch);

    if (!resolvedSource.empty() && isLibraryBundle(resolvedSource))
        report.warnings.push_back(ValidationWarning::libraryBundle);

    auto internalUnderMountRoot = [](const Endpoint& endpoint) {
        return endpoint.volume.kind == VolumeKind::internal && underRemovableMountRoot(endpoint.path);
    };
    if (internalUnderMountRoot(job.source) || internalUnderMountRoot(job.destination))
        report.warnings.push_back(ValidationWarning::internalUnderVolumes);

    return report;
}

}  // namespace kelto
