#include "FenraCore/FenraIconStatus.h"

#include <gtest/gtest.h>
#include <set>

using namespace kelto;

namespace {

TEST(FenraIcon, RawValuesAreTheCaseNamesExactlyAndSymbolNamesDiffer) {
    for (const char* wrong : {"CopyPath", "", "copy Path", "copyPath "})
        EXPECT_EQ(FenraIcons::fromRawValue(wrong), std::nullopt) << wrong;
    EXPECT_EQ(FenraIcons::rawValue(FenraIcon::delete_), "delete");
    std::set<QString> names;
    for (FenraIcon icon : FenraIcons::allCases()) {
        EXPECT_EQ(FenraIcons::fromRawValue(FenraIcons::rawValue(icon)), icon);
        names.insert(symbolName(icon));
    }
    EXPECT_EQ(names.size(), FenraIcons::count);
}

}  // namespace
