#include "SyncEngine/internal/HoldingRecords.h"

#include "SyncModel/Support/Base64.h"
#include <gtest/gtest.h>
#include <tuple>
#include <utility>

using namespace kelto;

namespace {

const std::string latin1 = "caf\xe9/r\xe9sum\xe9";  // no UTF-8

HoldingFolder::Planned planWith(const std::string& name) {
    HoldingFolder::Planned planned;
    planned.source = "/src/" + name;
    planned.modifyWindow = 2;
    planned.archiveTo = "archive/" + name;
    planned.deleted = {name, "gone"};
    planned.replaced = {"new/\xc3\xa9"};
    planned.seen[name] = ItemVersion{EntryKind::file, 5, 7, 9, 1, 2, 3, 4};
    planned.folders["caf\xe9"] = FolderIdentity(1, 0, "/mnt/" + name);
    planned.crossed[name] = {1, 2, S_IFREG, 5, {7, 9}, {{"user." + name, std::string("2\0\xff", 3)}}, {"other"}};
    planned.copies = {name};
    planned.conflicts = {name};
    return planned;
}

}  // namespace

TEST(HoldingRecordsTest, NamesThatAreNotUtf8ReadBackAsTheyWere) {
    const HoldingFolder::Planned planned = planWith(latin1);
    const std::string bytes = JsonText::encode(planned);
    EXPECT_NE(bytes.find(R"({"path":{"base64":")" + Base64::encode(latin1) + "\"}"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("\"new/\xc3\xa9\""), std::string::npos) << bytes;
    const std::optional<HoldingFolder::Planned> read = HoldingRecords::decodePlan(bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->source, planned.source);
    EXPECT_EQ(read->modifyWindow, 2);
    EXPECT_EQ(read->archiveTo, planned.archiveTo);
    EXPECT_EQ(read->deleted, planned.deleted);
    EXPECT_EQ(read->replaced, planned.replaced);
    EXPECT_EQ(read->seen, planned.seen);
    EXPECT_EQ(read->folders, planned.folders);
    EXPECT_EQ(read->copies, planned.copies);
    EXPECT_EQ(read->conflicts, planned.conflicts);
    ASSERT_EQ(read->crossed.size(), 1u);
    const HoldingFolder::Crossed& crossed = read->crossed.at(latin1);
    EXPECT_EQ(crossed.attributes, planned.crossed.at(latin1).attributes);
    EXPECT_EQ(crossed.otherNames, std::vector<std::string>{"other"});
    EXPECT_EQ(std::tie(crossed.device, crossed.fileNumber, crossed.kind, crossed.size),
              std::make_tuple(std::uint64_t{1}, std::uint64_t{2}, mode_t{S_IFREG}, std::int64_t{5}));
    EXPECT_EQ(std::pair(crossed.mtime.tv_sec, crossed.mtime.tv_nsec), std::pair(time_t{7}, 9L));
    const HoldingRecords::Mark mark{true, {latin1, "taken"}};
    const std::optional<HoldingRecords::Mark> marked = HoldingRecords::decodeMark(JsonText::encode(mark));
    ASSERT_TRUE(marked);
    EXPECT_TRUE(marked->interrupted);
    EXPECT_EQ(marked->placeTaken, mark.placeTaken);
}

// Cut short, or in the NUL-separated form of earlier versions: no record.
TEST(HoldingRecordsTest, ARecordNotWholeIsNone) {
    const std::string plan = JsonText::encode(planWith("f"));
    EXPECT_FALSE(HoldingRecords::decodePlan(plan.substr(0, plan.size() - 1)));
    EXPECT_FALSE(HoldingRecords::decodePlan(std::string("\0" "0\0\0\0d\0f\0\0", 11)));
    const std::string mark = JsonText::encode(HoldingRecords::Mark{false, {"a", "b"}});
    EXPECT_FALSE(HoldingRecords::decodeMark(mark.substr(0, mark.size() - 3)));
    EXPECT_FALSE(HoldingRecords::decodeMark(std::string("a\0b\0", 4)));
}
