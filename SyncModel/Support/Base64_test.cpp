#include "SyncModel/Support/Base64.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(Base64, EncodesWithPaddingRoundTripsAnyBytesAndDecodesStrictly) {
    EXPECT_EQ(Base64::encode(""), "");
    EXPECT_EQ(Base64::encode("f"), "Zg==");
    EXPECT_EQ(Base64::encode("fo"), "Zm8=");
    EXPECT_EQ(Base64::encode("foo"), "Zm9v");
    EXPECT_EQ(Base64::encode("\xfb\xff\xfe"), "+//+");
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    for (std::size_t n = 0; n <= all.size(); n += 37) {
        const std::string bytes = all.substr(0, n);
        const std::string text = Base64::encode(bytes);
        EXPECT_EQ(text.find('\n'), std::string::npos);
        EXPECT_EQ(Base64::decode(text), bytes) << n;
    }
    EXPECT_EQ(Base64::decode(""), "");
    for (const char* bad : {"Zg", "Zg=", "Zm8", "Zm9vYg", "Zm9v\n", "Zm 9v", "Zm9v====", "Z===", "Zm9-", "Zm9_",
                            "Zm9v*A==", "=Zm9", "Zg==Zg=="})
        EXPECT_EQ(Base64::decode(bad), std::nullopt) << bad;
}

}  // namespace
