#include "FenraCore/TextFormat.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(TextFormat, FillsPlaceholdersInOrderOrByNumberAndKeepsWhatItCannotFill) {
    const QLocale en(QLocale::English);
    const QString a = QStringLiteral("a"), b = QStringLiteral("b");
    const struct {
        const char* format;
        QVariantList values;
        QLocale locale;
        QString expected;
    } rows[]{
        {"%lld of %lld ready", {2, 3}, en, "2 of 3 ready"}, {"%2$@ then %1$@", {a, b}, en, "b then a"},
        {"Restart %@", {QStringLiteral("Kelto Sync")}, en, "Restart Kelto Sync"},
        {"%lld files", {qlonglong(1234567)}, en, "1234567 files"}, {"100%% of %d", {7}, en, "100% of 7"},
        {"%lld", {qlonglong(-5)}, en, "-5"}, {"Back to %@", {}, en, "Back to %@"},
        {"%3$@ and %x", {a}, en, "%3$@ and %x"}, {"ends with %", {1}, en, "ends with %"},
        {"%lld", {42}, QLocale(QLocale::Arabic, QLocale::Egypt), QString::fromUtf8("\u0664\u0662")},
    };
    for (const auto& row : rows) EXPECT_EQ(TextFormat::format(row.format, row.values, row.locale), row.expected) << row.format;
}

}  // namespace
