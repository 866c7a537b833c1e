#include "SyncModel/SyncJob.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

// A job with every optional field present and every list non-empty.
SyncJob fullJob() {
    SyncJob job = SyncJob::newJob("Photos to NAS");
    job.id = *Uuid::parse("0F3E2B1A-9C8D-4E7F-A6B5-C4D3E2F1A0B9");
    job.source = {"/Users/me/Pictures", std::string("book\0mark\xff", 10),
                  {VolumeKind::internal, "5C1D7E2A-0000-4000-8000-000000000001", "Macintosh HD", "apfs", false, false,
                   std::nullopt},
                  "Users/me/Pictures", 18'446'744'073'709'551'615ULL};
    job.destination = {"/Volumes/photos", std::nullopt,
                       {VolumeKind::network, std::nullopt, "photos", "smbfs", false, true,
                        Url::parse("smb://me@nas.local/photos")},
                       "", std::nullopt};
    job.mode = SyncMode::mirror;
    job.triggers = {Trigger::onConnect(ConnectAction::ask), Trigger::weekly({2, 6}, {20, 15})};
    job.filters = FilterSet{false, {"*.tmp", "", "/cache/"}};
    job.options = JobOptions{false, std::nullopt, 35, 200, true, true};
    job.isEnabled = false;
    return job;
}

// The same JSON with the members of every object in reverse order.
Json reversed(const Json& value) {
    if (!value.is_structured()) return value;
    Json out = value.is_array() ? Json::array() : Json::object();
    if (value.is_array())
        for (const Json& e : value) out.push_back(reversed(e));
    else
        for (auto it = value.crbegin(); it != value.crend(); ++it) out[it.key()] = reversed(*it);
    return out;
}

SyncJob decode(const Json& json) { return JsonCodec<SyncJob>::decode(JsonIn(json)); }

TEST(SyncJobJson, RoundTripsWhateverTheKeyOrderLeavingAbsentOptionalsOutAndReadingNullAsAbsent) {
    for (const SyncJob& job : {fullJob(), SyncJob::newJob("New job")}) {
        const std::string text = JsonText::encode(job);
        EXPECT_EQ(text.find('\n'), std::string::npos);  // compact
        EXPECT_EQ(text.find("\": "), std::string::npos);
        EXPECT_EQ(JsonText::decode<SyncJob>(text), job);
        const Json backwards = reversed(JsonText::parse(text));
        ASSERT_NE(backwards.dump(), text);
        EXPECT_EQ(decode(backwards), job);
    }
    const Json json = JsonCodec<SyncJob>::encode(fullJob());
    EXPECT_EQ(json["id"], "0F3E2B1A-9C8D-4E7F-A6B5-C4D3E2F1A0B9");
    EXPECT_EQ(json["source"]["bookmark"], "Ym9vawBtYXJr/w==");
    EXPECT_EQ(json["source"]["fileID"].dump(), "18446744073709551615");
    EXPECT_EQ(json["destination"]["volume"]["remountURL"], "smb://me@nas.local/photos");
    for (const char* key : {"bookmark", "fileID"}) EXPECT_FALSE(json["destination"].contains(key)) << key;
    EXPECT_FALSE(json["source"]["volume"].contains("remountURL"));
    EXPECT_FALSE(json["destination"]["volume"].contains("uuid"));
    EXPECT_FALSE(json["options"].contains("archiveRetentionDays"));
    Json withNulls = json;
    for (const char* pointer : {"/source/bookmark", "/source/fileID", "/source/volume/uuid",
                                "/destination/volume/remountURL", "/options/archiveRetentionDays"})
        withNulls[Json::json_pointer(pointer)] = nullptr;
    SyncJob expected = fullJob();
    expected.source.bookmark.reset();
    expected.source.fileID.reset();
    expected.source.volume.uuid.reset();
    expected.destination.volume.remountURL.reset();
    EXPECT_EQ(decode(withNulls), expected);
}

TEST(SyncJobJson, EveryRequiredKeyIsRequired) {
    const Json good = JsonCodec<SyncJob>::encode(fullJob());
    const std::vector<std::vector<std::string>> required{
        {"id"}, {"name"}, {"source"}, {"destination"}, {"mode"}, {"triggers"}, {"filters"}, {"options"},
        {"isEnabled"}, {"source", "path"}, {"source", "volume"}, {"destination", "relativePath"},
        {"source", "volume", "kind"}, {"source", "volume", "name"}, {"destination", "volume", "fileSystem"},
        {"destination", "volume", "isReadOnly"}, {"source", "volume", "caseSensitive"},
        {"filters", "useDefaultExcludes"}, {"filters", "patterns"}, {"options", "archiveEnabled"},
        {"options", "deleteGuardPercent"}, {"options", "deleteGuardMinFiles"}, {"options", "ejectWhenDone"},
        {"options", "skipOnBattery"}};
    for (const auto& keyPath : required) {
        Json json = good;
        Json* parent = &json;
        for (std::size_t i = 0; i + 1 < keyPath.size(); ++i) parent = &(*parent)[keyPath[i]];
        parent->erase(keyPath.back());
        try {
            decode(json);
            ADD_FAILURE() << "decoded without " << keyPath.back();
        } catch (const DecodingError& error) {
            EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound) << keyPath.back();
        }
        (*parent)[keyPath.back()] = nullptr;  // null is no better than missing
        EXPECT_THROW(decode(json), DecodingError) << keyPath.back();
    }
}

TEST(SyncJobJson, RejectsUnknownWordsAndMalformedValuesButNotUnknownKeys) {
    const Json good = JsonCodec<SyncJob>::encode(fullJob());
    auto fails = [&](auto edit) {
        Json json = good;
        edit(json);
        EXPECT_THROW(decode(json), DecodingError) << json.dump();
    };
    fails([](Json& j) { j["mode"] = "Mirror"; });
    fails([](Json& j) { j["source"]["volume"]["kind"] = "usb"; });
    fails([](Json& j) { j["id"] = "not-a-uuid"; });
    fails([](Json& j) { j["source"]["bookmark"] = "Ym9vaw"; });
    fails([](Json& j) { j["destination"]["volume"]["remountURL"] = "smb://nas local/photos"; });
    fails([](Json& j) { j["isEnabled"] = 1; });
    fails([](Json& j) { j["source"]["fileID"] = -1; });
    fails([](Json& j) { j["triggers"][0]["action"] = "maybe"; });
    Json extra = good;
    extra["colour"] = "blue";
    extra["source"]["volume"]["serial"] = 42;
    EXPECT_EQ(decode(extra), fullJob());
}

TEST(FilterSet, DefaultExcludesComeFirstAndKeepTheirCarriageReturn) {
    const std::string icon(FilterSet::defaultExcludes.back());
    EXPECT_EQ(icon, std::string("Icon\r"));
    const std::vector<std::string> effective = FilterSet{true, {"*.tmp", ".DS_Store"}}.effectivePatterns();
    ASSERT_EQ(effective.size(), 10u);
    EXPECT_EQ(effective[0], ".DS_Store");
    EXPECT_EQ(effective[7], icon);
    EXPECT_EQ(effective[9], ".DS_Store");  // a user duplicate of a default stays
    EXPECT_EQ((FilterSet{false, {"a", ""}}.effectivePatterns()), (std::vector<std::string>{"a", ""}));
    SyncJob job = fullJob();
    job.filters.patterns = {icon};
    const std::string text = JsonText::encode(job);
    EXPECT_NE(text.find(R"("patterns":["Icon\r"])"), std::string::npos) << text;
    EXPECT_EQ(JsonText::decode<SyncJob>(text).filters.patterns.at(0), icon);
}

TEST(SyncJobEquality, ComparesTextByCanonicalEquivalenceAndListsInOrder) {
    SyncJob precomposed = fullJob();
    precomposed.name = "Caf\u00e9";
    precomposed.source.path = "/Users/me/Caf\u00e9";
    precomposed.destination.volume.name = "\u00c9t\u00e9";
    SyncJob decomposed = fullJob();
    decomposed.name = "Cafe\u0301";
    decomposed.source.path = "/Users/me/Cafe\u0301";
    decomposed.destination.volume.name = "E\u0301te\u0301";
    EXPECT_EQ(precomposed, decomposed);
    decomposed.name = "caf\u00e9";
    EXPECT_NE(precomposed, decomposed);  // letter case still counts
    SyncJob other = fullJob();
    std::swap(other.triggers[0], other.triggers[1]);
    EXPECT_NE(other, fullJob());
}

}  // namespace
