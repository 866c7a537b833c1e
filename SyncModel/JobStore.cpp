#include "SyncModel/JobStore.h"

#include "SyncModel/Support/FileIO.h"

namespace kelto {

std::filesystem::path JobStore::directory() const {
    const std::filesystem::path parent = fileURL.parent_path();
    return parent.empty() ? std::filesystem::path(".") : parent;
}

std::vector<SyncJob> JobStore::load() const {
    const std::optional<std::string> bytes = FileIO::readIfExists(fileURL);
    if (!bytes) return {};

    const Json document = JsonText::parse(*bytes);
    const JsonIn in(document);
    // The version is read on its own first: a newer file's jobs may not
    // decode at all, and the user should hear about the version, not that.
    const std::int64_t version = in["version"].int64();
    if (version != currentVersion) throw JobStoreError::unsupportedVersion(version);
    return in["jobs"].arrayOf<SyncJob>();
}

std::filesystem::path JobStore::lockFile() const {
    std::filesystem::path file = fileURL;
    return file.concat(".lock");
}

void JobStore::modify(const std::function<void(std::vector<SyncJob>&)>& change) const {
    const auto held = FileIO::lockExclusively(lockFile(), true);
    std::vector<SyncJob> jobs = load();
    change(jobs);
    write(jobs);
}

void JobStore::write(const std::vector<SyncJob>& jobs) const {
    Json document = Json::object();
    document["version"] = currentVersion;
    document["jobs"] = JsonCodec<std::vector<SyncJob>>::encode(jobs);
    const std::string bytes = JsonText::dump(document);

    FileIO::createDirectories(directory());
    FileIO::writeAtomically(fileURL, bytes);
}

}  // namespace kelto
