#include "SyncAutomation/IntervalAnchorStore.h"

#include "SyncModel/Support/FileIO.h"
#include "SyncModel/Support/Json.h"

#include <exception>

namespace kelto {

std::map<Uuid, Date> IntervalAnchorStore::load() const {
    std::map<Uuid, Date> anchors;
    try {
        const auto bytes = FileIO::readIfExists(file);
        if (!bytes) return anchors;
        const Json document = JsonText::parse(*bytes);
        for (const JsonIn& entry : JsonIn(document)["anchors"].array())
            anchors[entry["jobID"].uuid()] = entry["date"].date();
    } catch (const std::exception&) {
        return {};  // an anchor read in part could be wrong too
    }
    return anchors;
}

void IntervalAnchorStore::save(const std::map<Uuid, Date>& anchors) const {
    Json list = Json::array();
    for (const auto& [jobID, date] : anchors) {
        Json entry = Json::object();
        entry["jobID"] = encodeUuid(jobID);
        entry["date"] = encodeDate(date);
        list.push_back(std::move(entry));
    }
    Json document = Json::object();
    document["anchors"] = std::move(list);
    FileIO::createDirectories(file.parent_path());
    FileIO::writeAtomically(file, JsonText::dump(document));
}

}  // namespace kelto
