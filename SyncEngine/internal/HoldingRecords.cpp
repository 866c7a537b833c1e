#include "SyncEngine/internal/HoldingRecords.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Unicode.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace kelto {

namespace fs = std::filesystem;
using SafeFileSystem::Folder;

namespace {

// The mark is the one name no held item can have: rsync never touches R's reserved folder.
const std::string markName(ArchiveDirectories::reservedName);
constexpr std::string_view planSuffix = ".plan";

// A name is bytes: JSON text where they are UTF-8, else {"base64": ...}.
Json encodeName(std::string_view name) {
    if (Unicode::isValidUtf8(name)) return Json(std::string(name));
    Json out = Json::object();
    out["base64"] = encodeBase64(name);
    return out;
}

std::string decodeName(const JsonIn& in) {
    std::string name = in.json().is_object() ? in["base64"].base64() : in.string();
    if (name.find('\0') != std::string::npos) in.fail(DecodingError::Kind::dataCorrupted, "A name holds a NUL byte.");
    return name;
}

// A path under R: never empty.
std::string decodePath(const JsonIn& in) {
    std::string path = decodeName(in);
    if (path.empty()) in.fail(DecodingError::Kind::dataCorrupted, "An empty path.");
    return path;
}

Json encodeNames(const std::vector<std::string>& names) {
    Json out = Json::array();
    for (const std::string& name : names) out.push_back(encodeName(name));
    return out;
}

std::vector<std::string> decodePaths(const JsonIn& in) {
    std::vector<std::string> out;
    for (const JsonIn& element : in.array()) out.push_back(decodePath(element));
    return out;
}

Json encodeVersion(const ItemVersion& v) {
    Json out = Json::object();
    out["kind"] = JsonCodec<EntryKind>::encode(v.kind);
    out["size"] = v.size;
    out["mtime"] = v.mtime;
    if (v.mtimeNanoseconds) out["mtimeNanoseconds"] = *v.mtimeNanoseconds;
    if (v.device) out["device"] = *v.device;
    if (v.fileNumber) out["fileNumber"] = *v.fileNumber;
    if (v.changed) out["changed"] = *v.changed;
    if (v.changedNanoseconds) out["changedNanoseconds"] = *v.changedNanoseconds;
    return out;
}

ItemVersion decodeVersion(const JsonIn& in) {
    ItemVersion v;
    v.kind = in["kind"].as<EntryKind>();
    v.size = in["size"].int64();
    v.mtime = in["mtime"].int64();
    if (const auto n = in.optional("mtimeNanoseconds")) v.mtimeNanoseconds = n->int64();
    if (const auto n = in.optional("device")) v.device = n->uint64();
    if (const auto n = in.optional("fileNumber")) v.fileNumber = n->uint64();
    if (const auto n = in.optional("changed")) v.changed = n->int64();
    if (const auto n = in.optional("changedNanoseconds")) v.changedNanoseconds = n->int64();
    return v;
}

Json encodeCrossed(const std::string& path, const HoldingFolder::Crossed& crossed) {
    Json out = Json::object();
    out["path"] = encodeName(path);
    out["device"] = crossed.device;
    out["fileNumber"] = crossed.fileNumber;
    out["kind"] = static_cast<std::uint64_t>(crossed.kind);
    out["size"] = crossed.size;
    out["mtime"] = static_cast<std::int64_t>(crossed.mtime.tv_sec);
    out["mtimeNanoseconds"] = static_cast<std::int64_t>(crossed.mtime.tv_nsec);
    // An attribute's value may hold any byte.
    Json attributes = Json::array();
    for (const auto& [name, value] : crossed.attributes) {
        Json attribute = Json::object();
        attribute["name"] = encodeName(name);
        attribute["value"] = encodeBase64(value);
        attributes.push_back(std::move(attribute));
    }
    out["attributes"] = std::move(attributes);
    out["otherNames"] = encodeNames(crossed.otherNames);
    return out;
}

HoldingFolder::Crossed decodeCrossed(const JsonIn& in) {
    HoldingFolder::Crossed crossed;
    crossed.device = in["device"].uint64();
    crossed.fileNumber = in["fileNumber"].uint64();
    const std::uint64_t kind = in["kind"].uint64();
    if ((kind & ~static_cast<std::uint64_t>(S_IFMT)) != 0)
        in["kind"].fail(DecodingError::Kind::dataCorrupted, "Not a kind of file.");
    crossed.kind = static_cast<mode_t>(kind);
    crossed.size = in["size"].int64();
    crossed.mtime.tv_sec = static_cast<time_t>(in["mtime"].int64());
    crossed.mtime.tv_nsec = static_cast<long>(in["mtimeNanoseconds"].int64());
    for (const JsonIn& attribute : in["attributes"].array())
        crossed.attributes.emplace_back(decodeName(attribute["name"]), attribute["value"].base64());
    crossed.otherNames = decodePaths(in["otherNames"]);
    return crossed;
}

// The recorded plan outlives this process: a folder reached through its
// descriptors (/proc/self/fd/N) is named where it lies, as that number names
// another folder, or none, for the run that recovers. Unknown: none, and
// nothing trades places then.
fs::path lastingPath(const fs::path& folder) {
    if (folder.empty() || !folder.native().starts_with("/proc/self/")) return folder;
    const FileDescriptor opened(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return opened.valid() ? SafeFileSystem::whereItLies(opened.get()).value_or(fs::path()) : fs::path();
}

// A record left behind serves nothing once its folder is gone.
void removeRecord(const Folder& holdingRoot, const std::string& name) {
    try {
        SafeFileSystem::removeFile(holdingRoot, name);
    } catch (const FileError&) {
        // tried again by the next recovery
    }
}

template <class T>
std::optional<T> decodeWhole(std::string_view bytes) {
    try {
        return JsonText::decode<T>(bytes);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
}

}  // namespace

Json JsonCodec<HoldingFolder::Planned>::encode(const HoldingFolder::Planned& value) {
    Json out = Json::object();
    out["source"] = encodeName(value.source.native());
    out["modifyWindow"] = value.modifyWindow;
    if (value.archiveTo) out["archiveTo"] = encodeName(*value.archiveTo);
    // What the plan saw of an item goes with it: only those it takes matter.
    const auto items = [&](const std::unordered_set<std::string>& paths) {
        Json list = Json::array();
        for (const std::string& path : paths) {
            Json item = Json::object();
            item["path"] = encodeName(path);
            if (const auto seen = value.seen.find(path); seen != value.seen.end())
                item["seen"] = encodeVersion(seen->second);
            list.push_back(std::move(item));
        }
        return list;
    };
    out["deleted"] = items(value.deleted);
    out["replaced"] = items(value.replaced);
    // What crossing file systems drops, so that recovery gives it back as settling would.
    Json crossed = Json::array();
    for (const auto& [path, item] : value.crossed) crossed.push_back(encodeCrossed(path, item));
    out["crossed"] = std::move(crossed);
    out["copies"] = encodeNames(value.copies);
    Json folders = Json::array();
    for (const auto& [path, identity] : value.folders) {
        Json folder = Json::object();
        folder["path"] = encodeName(path);
        folder["device"] = identity.device;
        folder["fileNumber"] = identity.fileNumber;
        if (!identity.resolvedPath.empty()) folder["resolvedPath"] = encodeName(identity.resolvedPath);
        folders.push_back(std::move(folder));
    }
    out["folders"] = std::move(folders);
    if (!value.conflicts.empty()) out["conflicts"] = encodeNames(value.conflicts);
    return out;
}

HoldingFolder::Planned JsonCodec<HoldingFolder::Planned>::decode(const JsonIn& in) {
    HoldingFolder::Planned planned;
    planned.source = decodeName(in["source"]);
    planned.modifyWindow = in["modifyWindow"].int64();
    if (const auto archiveTo = in.optional("archiveTo")) planned.archiveTo = decodePath(*archiveTo);
    for (const char* key : {"deleted", "replaced"})
        for (const JsonIn& item : in[key].array()) {
            std::string path = decodePath(item["path"]);
            if (const auto seen = item.optional("seen")) planned.seen.emplace(path, decodeVersion(*seen));
            (key == std::string_view("deleted") ? planned.deleted : planned.replaced).insert(std::move(path));
        }
    for (const JsonIn& item : in["crossed"].array()) planned.crossed.emplace(decodePath(item["path"]), decodeCrossed(item));
    planned.copies = decodePaths(in["copies"]);
    for (const JsonIn& folder : in["folders"].array()) {
        const auto resolved = folder.optional("resolvedPath");
        planned.folders.emplace(decodePath(folder["path"]),
                                FolderIdentity(folder["device"].uint64(), folder["fileNumber"].uint64(),
                                               resolved ? decodeName(*resolved) : std::string()));
    }
    if (const auto conflicts = in.optional("conflicts")) planned.conflicts = decodePaths(*conflicts);
    return planned;
}

Json JsonCodec<HoldingRecords::Mark>::encode(const HoldingRecords::Mark& value) {
    Json out = Json::object();
    out["interrupted"] = value.interrupted;
    Json paths = Json::array();
    for (const std::string& path : value.placeTaken) paths.push_back(encodeName(path));
    out["placeTaken"] = std::move(paths);
    return out;
}

HoldingRecords::Mark JsonCodec<HoldingRecords::Mark>::decode(const JsonIn& in) {
    HoldingRecords::Mark mark;
    mark.interrupted = in["interrupted"].boolean();
    for (std::string& path : decodePaths(in["placeTaken"])) mark.placeTaken.insert(std::move(path));
    return mark;
}

std::optional<Folder> HoldingRecords::openHoldingRoot(const Folder& root) {
    return SafeFileSystem::openPath(root, {std::string(ArchiveDirectories::reservedName),
                                           std::string(ArchiveDirectories::holdingName)});
}

std::string HoldingRecords::planName(std::string_view runID) { return std::string(runID).append(planSuffix); }

std::optional<std::string> HoldingRecords::runOfPlan(std::string_view name) {
    if (!name.ends_with(planSuffix) || name.size() == planSuffix.size()) return std::nullopt;
    return std::string(name.substr(0, name.size() - planSuffix.size()));
}

void HoldingRecords::writePlan(const Folder& holdingRoot, const std::string& runID,
                               const HoldingFolder::Planned& planned) {
    Json document = JsonCodec<HoldingFolder::Planned>::encode(planned);
    document["source"] = encodeName(lastingPath(planned.source).native());
    const std::string name = planName(runID);
    FileIO::writeAtomicallyAt(holdingRoot.get(), name, JsonText::dump(document), holdingRoot / name);
}

std::optional<HoldingFolder::Planned> HoldingRecords::readPlan(const Folder& holdingRoot, const std::string& runID) {
    const std::string name = planName(runID);
    const FileDescriptor file(::openat(holdingRoot.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid()) return std::nullopt;
    try {
        return decodePlan(FileIO::readAll(file.get(), holdingRoot / name));
    } catch (const FileError&) {
        return std::nullopt;  // unread: settled as a plan-less folder
    }
}

std::optional<HoldingFolder::Planned> HoldingRecords::decodePlan(std::string_view bytes) {
    return decodeWhole<HoldingFolder::Planned>(bytes);
}

void HoldingRecords::removePlan(const Folder& holdingRoot, const std::string& runID) {
    removeRecord(holdingRoot, planName(runID));
}

void HoldingRecords::removeIfStray(const Folder& holdingRoot, const std::string& name) {
    const std::optional<std::string> run = runOfPlan(name);
    if ((run && !SafeFileSystem::statChild(holdingRoot, *run)) ||
        (name.starts_with(".") && name.find(".plan.tmp-") != std::string::npos))
        removeRecord(holdingRoot, name);
}

bool HoldingRecords::isMarkName(std::string_view name) {
    // Or FileIO's temporary of it: "." + name + ".tmp-" + a unique part.
    return name == markName || name.starts_with("." + markName + ".tmp-");
}

void HoldingRecords::writeMark(const Folder& folder, const Mark& mark) {
    FileIO::writeAtomicallyAt(folder.get(), markName, JsonText::encode(mark), folder / markName);
}

std::optional<HoldingRecords::Mark> HoldingRecords::readMark(const Folder& folder) {
    const FileDescriptor file(::openat(folder.get(), markName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid()) {
        const int error = errno;
        if (error == ENOENT) return std::nullopt;
        throw FileError(error, "Could not read", folder / markName);
    }
    return decodeMark(FileIO::readAll(file.get(), folder / markName));
}

// A mark cut short is no JSON, so no mark: every item it named is tried
// again, which is safe, as one whose place is still taken stays, named again.
std::optional<HoldingRecords::Mark> HoldingRecords::decodeMark(std::string_view bytes) {
    return decodeWhole<Mark>(bytes);
}

}  // namespace kelto
