#include "FenraCore/TextFormat.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(TextFormat, FillsPlaceholdersInOrderOrByNumber) {
    const QLocale en(QLocale::English);
    EXPECT_EQ(TextFormat::format("%lld of %lld ready", {2, 3}, en), "2 of 3 ready");
    EXPECT_EQ(TextFormat::format("Restart %@", {QStringLiteral("Kelto Sync")}, en), "Restart Kelto Sync");
    EXPECT_EQ(TextFormat::format("%2$@ then %1$@", {QStringLiteral("a"), QStringLiteral("b")}, en), "b then a");
    EXPECT_EQ(TextFormat::format("%lld files", {qlonglong(1234567)}, en), "1234567 files");
    EXPECT_EQ(TextFormat::format("100%% of %d", {7}, en), "100% of 7");
    EXPECT_EQ(TextFormat::format("%lld", {qlonglong(-5)}, en), "-5");
}

TEST(TextFormat, KeepsWhatItCannotFill) {
    const QLocale en(QLocale::English);
    EXPECT_EQ(TextFormat::format("Back to %@", {}, en), "Back to %@");
    EXPECT_EQ(TextFormat::format("%3$@ and %x", {QStringLiteral("a")}, en), "%3$@ and %x");
    EXPECT_EQ(TextFormat::format("ends with %", {1}, en), "ends with %");
}

TEST(TextFormat, WritesIntegersInTheLocalesDigits) {
    EXPECT_EQ(TextFormat::format("%lld", {42}, QLocale(QLocale::Arabic, QLocale::Egypt)), QString::fromUtf8("٤٢"));
}

}  // namespace
