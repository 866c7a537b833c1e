#include "FenraCore/FenraIconStatus.h"

#include <gtest/gtest.h>

#include <set>

namespace kelto {
namespace {

TEST(FenraIcon, RawValuesAreTheCaseNamesExactly) {
    EXPECT_EQ(FenraIcons::fromRawValue("copyPath"), FenraIcon::copyPath);
    EXPECT_EQ(FenraIcons::fromRawValue("CopyPath"), std::nullopt);
    EXPECT_EQ(FenraIcons::fromRawValue(""), std::nullopt);
    EXPECT_EQ(FenraIcons::fromRawValue("copy Path"), std::nullopt);
    EXPECT_EQ(FenraIcons::fromRawValue("copyPath "), std::nullopt);
    EXPECT_EQ(FenraIcons::rawValue(FenraIcon::skipped), "skipped");
    EXPECT_EQ(FenraIcons::rawValue(FenraIcon::delete_), "delete");
    for (FenraIcon icon : FenraIcons::allCases()) {
        EXPECT_EQ(FenraIcons::fromRawValue(FenraIcons::rawValue(icon)), icon);
    }
}

TEST(FenraIcon, SymbolNames) {
    EXPECT_EQ(symbolName(FenraIcon::info), "info.circle");
    EXPECT_EQ(symbolName(FenraIcon::stopped), "stop.circle");
    EXPECT_EQ(symbolName(FenraIcon::sync), "arrow.triangle.2.circlepath");
    EXPECT_EQ(symbolName(FenraIcon::selected), "checkmark");
    EXPECT_EQ(symbolName(FenraIcon::success), "checkmark.circle.fill");
    for (FenraIcon same : {FenraIcon::link, FenraIcon::pin, FenraIcon::photo, FenraIcon::folder, FenraIcon::lock}) {
        EXPECT_EQ(symbolName(same).toStdString(), FenraIcons::rawValue(same));
    }
    std::set<QString> names;
    for (FenraIcon icon : FenraIcons::allCases()) {
        names.insert(symbolName(icon));
    }
    EXPECT_EQ(names.size(), FenraIcons::count);
}

TEST(FenraIcon, CasesInOrderAndTheirGroups) {
    const auto& all = FenraIcons::allCases();
    ASSERT_EQ(all.size(), 47u);
    EXPECT_EQ(all.front(), FenraIcon::add);
    EXPECT_EQ(all.back(), FenraIcon::richText);
    EXPECT_EQ(FenraIcons::group(FenraIcon::airDrop), FenraIconGroup::actions);
    EXPECT_EQ(FenraIcons::group(FenraIcon::success), FenraIconGroup::status);
    EXPECT_EQ(FenraIcons::group(FenraIcon::skipped), FenraIconGroup::status);
    EXPECT_EQ(FenraIcons::group(FenraIcon::folder), FenraIconGroup::objects);
    std::size_t actions = 0, status = 0, objects = 0;
    for (FenraIcon icon : all) {
        switch (FenraIcons::group(icon)) {
        case FenraIconGroup::actions: ++actions; break;
        case FenraIconGroup::status: ++status; break;
        case FenraIconGroup::objects: ++objects; break;
        }
    }
    EXPECT_EQ(actions, 26u);
    EXPECT_EQ(status, 9u);
    EXPECT_EQ(objects, 12u);
}

TEST(FenraIconStatus, IconsAndThemeColours) {
    using namespace FenraIconStatuses;
    EXPECT_EQ(icon(FenraIconStatus::success), FenraIcon::success);
    EXPECT_EQ(icon(FenraIconStatus::warning), FenraIcon::warning);
    EXPECT_EQ(icon(FenraIconStatus::error), FenraIcon::error);
    EXPECT_EQ(icon(FenraIconStatus::info), FenraIcon::info);
    EXPECT_EQ(symbolName(icon(FenraIconStatus::error)), "xmark.octagon.fill");
    EXPECT_EQ(color(FenraIconStatus::error).light, RGB::from255(159, 48, 40));
    EXPECT_EQ(color(FenraIconStatus::error).dark, RGB::from255(255, 154, 142));
    EXPECT_EQ(color(FenraIconStatus::success).dark, RGB::from255(128, 219, 175));
    EXPECT_EQ(color(FenraIconStatus::warning).light, RGB::from255(168, 95, 0));
    EXPECT_EQ(color(FenraIconStatus::info).light, RGB::from255(60, 71, 97));
}

}  // namespace
}  // namespace kelto
