#include "SyncModel/Support/Base64.h"
#include "SyncModel/Support/ItemVersion.h"
#include "SyncModel/Support/Text.h"
#include "SyncModel/Support/Unicode.h"
#include "SyncModel/Support/Uuid.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

struct stat fileOf(std::int64_t size, std::int64_t seconds, long nanoseconds, dev_t device, ino_t number) {
    struct stat item {};
    item.st_mode = S_IFREG | 0644;
    item.st_size = size;
    item.st_mtim = {seconds, nanoseconds};
    item.st_dev = device;
    item.st_ino = number;
    return item;
}

TEST(Unicode, NormalFormsCaseFoldingAndLossyDecoding) {
    EXPECT_EQ(Unicode::nfc("Cafe\u0301"), "Caf\u00e9");
    EXPECT_EQ(Unicode::nfc("Caf\u00e9"), "Caf\u00e9");
    EXPECT_EQ(Unicode::nfc("a\u0323\u0307"), "\u1ea1\u0307");  // marks reordered, then composed
    EXPECT_EQ(Unicode::nfc("a\u0307\u0323"), "\u1ea1\u0307");
    EXPECT_EQ(Unicode::nfc(std::string("plain\0ascii", 11)), std::string("plain\0ascii", 11));
    EXPECT_EQ(Unicode::nfc("bad\xff" "e\u0301"), "bad\xff" "e\u0301");  // invalid UTF-8 has no normal form
    EXPECT_TRUE(Unicode::canonicallyEqual("Caf\u00e9", "Cafe\u0301"));
    EXPECT_TRUE(Text::equal(std::string("\u00c5ngstr\u00f6m"), std::string("A\u030angstro\u0308m")));
    EXPECT_FALSE(Unicode::canonicallyEqual("Caf\u00e9", "Cafe"));
    EXPECT_FALSE(Unicode::canonicallyEqual("Caf\u00e9", "CAF\u00c9"));
    EXPECT_FALSE(Unicode::canonicallyEqual("\ufb01", "fi"));  // compatibility, not canonical
    EXPECT_FALSE(Unicode::canonicallyEqual("a\xff", "a\xfe"));
    const auto same = [](std::string_view a, std::string_view b) {
        return Unicode::caseFolded(a) == Unicode::caseFolded(b);
    };
    EXPECT_TRUE(same("ΦΩΤΟΓΡΑΦΊΕΣ", "φωτογραφίες"));
    EXPECT_TRUE(same("\u03c3", "\u03c2"));
    EXPECT_TRUE(same("\u017f", "S"));  // long s
    EXPECT_TRUE(same("\u212a", "k"));  // Kelvin sign
    EXPECT_TRUE(same("Cafe\u0301", "CAF\u00c9"));
    EXPECT_FALSE(same("\u0130", "i"));  // İ lowers to i with its dot
    EXPECT_FALSE(same("data", "date"));
    EXPECT_EQ(Unicode::caseFolded("AB\xff"), "ab\xff");
    EXPECT_EQ(Unicode::decodeLossy("caf\u00e9 \U0001F4C1"), "caf\u00e9 \U0001F4C1");
    EXPECT_EQ(Unicode::decodeLossy("\x80\x80"), fffd + fffd);
    EXPECT_EQ(Unicode::decodeLossy("\xE2\x82" "A"), fffd + "A");
    EXPECT_EQ(Unicode::decodeLossy("\xF0\x80\x80"), fffd + fffd + fffd);  // overlong lead: each byte alone
    EXPECT_EQ(Unicode::decodeLossy("\xF0\x9F\x93"), fffd);                 // truncated at the end
    EXPECT_EQ(Unicode::decodeLossy("\xED\xA0\x80"), fffd + fffd + fffd);   // surrogate
    EXPECT_EQ(Unicode::decodeLossy("\xC0\xAF" "x"), fffd + fffd + "x");
    EXPECT_EQ(Unicode::decodeLossy("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd);  // beyond U+10FFFF
    EXPECT_EQ(Unicode::decodeLossy("a\xFF" "b\xC3\xA9"), "a" + fffd + "b\u00e9");
    EXPECT_TRUE(Unicode::isValidUtf8(Unicode::decodeLossy("\xE0\x80\xF5\xC2")));
}

TEST(Base64, EncodesWithPaddingRoundTripsAnyBytesAndDecodesStrictlyAsUuidsParseEitherCase) {
    for (const auto& [bytes, text] : std::vector<std::pair<std::string, std::string>>{
             {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xfb\xff\xfe", "+//+"}})
        EXPECT_EQ(Base64::encode(bytes), text);
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    for (std::size_t n = 0; n <= all.size(); n += 37) {
        const std::string bytes = all.substr(0, n);
        const std::string text = Base64::encode(bytes);
        EXPECT_EQ(text.find('\n'), std::string::npos);
        EXPECT_EQ(Base64::decode(text), bytes) << n;
    }
    for (const char* bad : {"Zg", "Zg=", "Zm8", "Zm9vYg", "Zm9v\n", "Zm 9v", "Zm9v====", "Z===", "Zm9-", "Zm9_",
                            "Zm9v*A==", "=Zm9", "Zg==Zg=="})
        EXPECT_EQ(Base64::decode(bad), std::nullopt) << bad;
    const auto lower = Uuid::parse("c56a4180-65aa-42ec-a945-5fd21dec0538");
    const auto upper = Uuid::parse("C56A4180-65AA-42EC-A945-5FD21DEC0538");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->string(), "C56A4180-65AA-42EC-A945-5FD21DEC0538");
    EXPECT_EQ(upper->lowerString(), "c56a4180-65aa-42ec-a945-5fd21dec0538");
    EXPECT_EQ(lower->bytes()[0], 0xC5);
    for (const char* bad : {"", "C56A4180-65AA-42EC-A945-5FD21DEC053", "C56A4180-65AA-42EC-A945-5FD21DEC05388",
                            "C56A418065AA42ECA9455FD21DEC0538", "C56A4180_65AA_42EC_A945_5FD21DEC0538",
                            "G56A4180-65AA-42EC-A945-5FD21DEC0538", "{56A4180-65AA-42EC-A945-5FD21DEC053}"})
        EXPECT_EQ(Uuid::parse(bad), std::nullopt) << bad;
}

TEST(ItemVersion, MatchesOnlyTheItemItWasSeenAsAndEachStrictnessAsksWhatItsUseNeeds) {
    const ItemVersion seen = ItemVersion::of(fileOf(5, 100, 7, 1, 42), true);
    const auto isSeen = [&](const struct stat& item, bool keepsNumbers = true) {
        return seen.same(ItemVersion::of(item, keepsNumbers), ItemVersion::Strictness::seen);
    };
    EXPECT_TRUE(isSeen(fileOf(5, 100, 7, 1, 42)));
    EXPECT_FALSE(isSeen(fileOf(6, 100, 7, 1, 42)));
    EXPECT_FALSE(isSeen(fileOf(5, 101, 7, 1, 42)));
    EXPECT_FALSE(isSeen(fileOf(5, 100, 7, 1, 43)));
    EXPECT_FALSE(isSeen(fileOf(5, 100, 8, 1, 42)));
    EXPECT_TRUE(isSeen(fileOf(5, 100, 7, 2, 99)));  // held across file systems
    EXPECT_FALSE(isSeen(fileOf(5, 100, 8, 2, 99)));  // saved anew there within the second
    EXPECT_FALSE(isSeen(fileOf(5, 100, 0, 2, 99)));  // a copy whose time lost its fraction
    struct stat link = fileOf(5, 100, 7, 1, 42);
    link.st_mode = S_IFLNK | 0777;
    EXPECT_FALSE(isSeen(link));
    // Where numbers are handed out afresh, a new number is no new version.
    EXPECT_TRUE(ItemVersion::of(fileOf(5, 100, 7, 1, 42), false)
                    .same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), false), ItemVersion::Strictness::seen));
    using S = ItemVersion::Strictness;
    struct stat item = fileOf(5, 100, 7, 1, 42);
    item.st_ctim = {200, 3};
    const ItemVersion v = ItemVersion::of(item, true);
    struct stat touched = item;
    touched.st_ctim = {201, 0};  // a chmod, a rename
    EXPECT_TRUE(v.same(ItemVersion::of(touched, true), S::untouched));
    EXPECT_FALSE(v.same(ItemVersion::of(touched, true), S::unchanged));
    EXPECT_FALSE(v.same(ItemVersion::of(touched, true), S::alike));
    EXPECT_TRUE(v.same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), true), S::listed));
    EXPECT_FALSE(v.same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), true), S::untouched));
    struct stat renumbered = item;
    renumbered.st_ino = 43;
    EXPECT_TRUE(v.same(ItemVersion::of(renumbered, false), S::alike));
    EXPECT_TRUE(v.same(ItemVersion::of(fileOf(5, 102, 0, 2, 9), true), S::copy, 2));
    EXPECT_FALSE(v.same(ItemVersion::of(fileOf(5, 103, 0, 2, 9), true), S::copy, 2));
    struct stat folder = item;
    folder.st_mode = S_IFDIR | 0755;
    struct stat emptied = folder;
    emptied.st_size = 0;
    emptied.st_mtim = {300, 0};
    EXPECT_TRUE(ItemVersion::of(folder, true).same(ItemVersion::of(emptied, true), S::unchanged));
    EXPECT_FALSE(ItemVersion::of(folder, true).same(ItemVersion::of(folder, true), S::copy));
}

}  // namespace
