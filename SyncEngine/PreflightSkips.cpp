#include "SyncEngine/PreflightSkips.h"

#include "SyncEngine/ArchiveDirectories.h"

#include "SyncEngine/PathKey.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Unicode.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace kelto {

namespace {

// Names compare by canonical equivalence, so everything is kept in NFC.
std::string keyOf(const std::string& spelling) { return Unicode::caseFolded(spelling); }

// The prefixes a, a/b, a/b/c of a/b/c; empty components are dropped.
std::vector<std::string> prefixes(std::string_view path) {
    std::vector<std::string> out;
    std::string current;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) {
            if (!current.empty()) current.push_back('/');
            current.append(path.substr(start, end - start));
            out.push_back(current);
        }
        start = end + 1;
    }
    return out;
}

bool hasWildcard(std::string_view path) { return path.find_first_of("*?[") != std::string_view::npos; }
bool isSpecial(char c) { return c == '\\' || c == '*' || c == '?' || c == '[' || c == ']'; }

struct Spellings {
    std::string first;
    bool colliding = false;
};

// The folder a relative path lies in: "" for the top.
std::string_view folderOf(std::string_view path) {
    while (path.ends_with('/')) path.remove_suffix(1);
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// The disk each folder lies on, asked once per folder.
class Landings {
public:
    explicit Landings(const FileSystemTraits& traits) : traits_(traits), top_(traits.landingIn("")) {}

    const FileSystemTraits::Landing& in(std::string_view folder) {
        if (traits_.disksBelow.empty()) return top_;
        auto found = byFolder_.find(std::string(folder));
        if (found == byFolder_.end()) found = byFolder_.emplace(folder, traits_.landingIn(folder)).first;
        return found->second;
    }

    bool holdsPath(std::string_view path) {
        if (traits_.disksBelow.empty() && top_.names == FileSystemCapabilities::Names::any) return true;
        for (std::size_t start = 0; start < path.size();) {
            std::size_t end = path.find('/', start);
            if (end == std::string_view::npos) end = path.size();
            if (end > start && !FileSystemCapabilities::holds(in(path.substr(0, start)).names,
                                                              path.substr(start, end - start)))
                return false;
            start = end + 1;
        }
        return true;
    }

private:
    const FileSystemTraits& traits_;
    const FileSystemTraits::Landing top_;
    std::unordered_map<std::string, FileSystemTraits::Landing> byFolder_;
};

}  // namespace

std::vector<SkippedFile> PreflightSkips::evaluate(const std::vector<Candidate>& candidates,
                                                  const FileSystemTraits& traits) {
    Landings landings(traits);
    // Keys of every prefix of every candidate, built once: each component
    // folded where the folder it lies in ignores case. Where no disk does,
    // none of this is needed.
    std::vector<std::vector<std::string>> keysOf;
    std::unordered_set<std::string> collidingKeys;
    if (traits.foldsCaseSomewhere()) {
        keysOf.reserve(candidates.size());
        std::unordered_map<std::string, Spellings> byKey;
        // Another spelling of the reserved folder would land in it.
        const std::string reserved(ArchiveDirectories::reservedName);
        byKey.emplace(landings.in("").caseSensitive ? reserved : keyOf(reserved), Spellings{reserved, false});
        for (const Candidate& candidate : candidates) {
            std::vector<std::string> keys;
            std::string key;
            for (std::string& prefix : prefixes(PathKey::of(candidate.path))) {
                const std::string_view folder = folderOf(prefix);
                const std::string_view name = std::string_view(prefix).substr(folder.empty() ? 0 : folder.size() + 1);
                if (!key.empty()) key.push_back('/');
                key += landings.in(folder).caseSensitive ? std::string(name) : keyOf(std::string(name));
                const auto entry = byKey.find(key);
                if (entry == byKey.end()) {
                    byKey.emplace(key, Spellings{std::move(prefix), false});
                } else if (!entry->second.colliding && entry->second.first != prefix) {
                    entry->second.colliding = true;
                    collidingKeys.insert(key);
                }
                keys.push_back(key);
            }
            keysOf.push_back(std::move(keys));
        }
    }

    std::vector<SkippedFile> skipped;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& candidate = candidates[i];
        if (!seen.insert(PathKey::of(candidate.path)).second) continue;
        if (!landings.holdsPath(candidate.path)) {
            skipped.push_back(SkippedFile{candidate.path, FileSkipReason::nameNotAllowed});
            continue;
        }
        const std::optional<std::int64_t> maxFileSize = landings.in(folderOf(candidate.path)).maxFileSize;
        if (maxFileSize && *maxFileSize < candidate.size) {
            skipped.push_back(SkippedFile{candidate.path, FileSkipReason::tooLargeForFAT});
            continue;
        }
        if (collidingKeys.empty()) continue;
        for (const std::string& key : keysOf[i]) {
            if (collidingKeys.count(key)) {
                skipped.push_back(SkippedFile{candidate.path, FileSkipReason::caseCollision});
                break;
            }
        }
    }
    return skipped;
}

std::vector<SkippedFile> PreflightSkips::normalisationTwins(const std::vector<Candidate>& candidates,
                                                            const FileSystemTraits& traits) {
    Landings landings(traits);
    std::vector<SkippedFile> skipped;
    if (!traits.foldsCaseSomewhere()) return skipped;
    // Keys and spellings of every prefix: the key is the prefix's NFC, the
    // spelling its exact bytes.
    std::unordered_map<std::string, std::string> firstSpelling;
    std::unordered_set<std::string> twinKeys;
    std::vector<std::vector<std::string>> keysOf;
    keysOf.reserve(candidates.size());
    for (const Candidate& candidate : candidates) {
        std::vector<std::string> keys;
        for (std::string& prefix : prefixes(candidate.path)) {
            std::string key = PathKey::of(prefix);
            const auto [entry, added] = firstSpelling.try_emplace(key, prefix);
            if (!added && entry->second != prefix && !landings.in(folderOf(prefix)).caseSensitive) twinKeys.insert(key);
            keys.push_back(std::move(key));
        }
        keysOf.push_back(std::move(keys));
    }

    if (twinKeys.empty()) return skipped;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& candidate = candidates[i];
        if (!seen.insert(candidate.path).second) continue;
        for (const std::string& key : keysOf[i]) {
            if (twinKeys.count(key)) {
                skipped.push_back(SkippedFile{candidate.path, FileSkipReason::normalisationTwin});
                break;
            }
        }
    }
    return skipped;
}

bool PreflightSkips::holdsPath(const FileSystemTraits& traits, std::string_view path) {
    return Landings(traits).holdsPath(path);
}

std::string PreflightSkips::excludeFileContents(const std::vector<SkippedFile>& skipped) {
    std::string out;
    for (const SkippedFile& file : skipped) {
        out.push_back('/');
        // Without a wildcard rsync matches the pattern literally, backslashes
        // included; with one, every special character must be escaped.
        if (!hasWildcard(file.path)) {
            out += file.path;
        } else {
            for (char c : file.path) {
                if (isSpecial(c)) out.push_back('\\');
                out.push_back(c);
            }
        }
        out.push_back('\0');
    }
    return out;
}

bool PreflightSkips::canExclude(std::string_view path) {
    std::size_t length = 1 + path.size();
    if (hasWildcard(path))
        for (char c : path) length += isSpecial(c) ? 1 : 0;
    return length <= maximumRecordLength;
}

void PreflightSkips::writeExcludeFile(const std::vector<SkippedFile>& skipped, const std::filesystem::path& path) {
    FileIO::writeAtomically(path, excludeFileContents(skipped));
}

}  // namespace kelto
