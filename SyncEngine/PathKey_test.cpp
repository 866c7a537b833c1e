#include "SyncEngine/PathKey.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(PathKey, KeyIsTheComposedFormAndPathOrAncestorMatchesWholeComponentsOnly) {
    const std::string decomposed = "cafe\xCC\x81/x", composed = "caf\xC3\xA9/x";
    std::string storage;
    EXPECT_EQ(PathKey::of(decomposed), composed);
    EXPECT_EQ(PathKey::of(decomposed, storage), composed);
    EXPECT_EQ(PathKey::of(composed, storage), composed);
    const std::string ascii = "plain/path-that-is-longer-than-eight-bytes";
    EXPECT_EQ(PathKey::of(ascii, storage).data(), ascii.data());  // no copy
    // A decomposed letter anywhere is seen: in a whole word or in the tail.
    EXPECT_EQ(PathKey::of(ascii + "e\xCC\x81", storage), ascii + "\xC3\xA9");
    EXPECT_EQ(PathKey::of(ascii + "e\xCC\x81/and-a-long-tail", storage), ascii + "\xC3\xA9/and-a-long-tail");
    EXPECT_TRUE(PathKey::isPathOrAncestor("a/b/c", PathKeySet{"a"}));
    EXPECT_TRUE(PathKey::isPathOrAncestor("a/b/c", PathKeySet{"a/b"}));
    EXPECT_TRUE(PathKey::isPathOrAncestor("a/b/c", PathKeySet{"a/b/c"}));
    EXPECT_FALSE(PathKey::isPathOrAncestor("a/b/c", PathKeySet{"a/bc", "b", "a/b/c/d"}));
    EXPECT_FALSE(PathKey::isPathOrAncestor("", PathKeySet{"a"}));
}

}  // namespace
