#include "FenraCore/StringTable.h"
#include "tests/support/widgets/QtPrinting.h"
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace kelto;

namespace {

void write(const QTemporaryDir& folder, const char* name, const char* json) {
    QFile file(folder.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(json);
}

TEST(StringTable, TheEnglishKeyStandsInForWhatNoTableHas) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    write(folder, "vi.json", R"({"No results": "Không có kết quả"})");
    write(folder, "fr.json", R"({"No results": 3})");
    write(folder, "de.json", "not json");
    const StringTable table(folder.path(), {"vi", "fr", "de", "ja"});
    const QLocale vietnamese(QLocale::Vietnamese, QLocale::Vietnam);
    EXPECT_EQ(table.text(QStringLiteral("No results"), vietnamese), QString::fromUtf8("Không có kết quả"));
    EXPECT_EQ(table.text(QStringLiteral("Search settings"), vietnamese), QStringLiteral("Search settings"));
    for (QLocale::Language language : {QLocale::French, QLocale::German, QLocale::Japanese, QLocale::English}) {
        EXPECT_EQ(table.text(QStringLiteral("No results"), QLocale(language)), QStringLiteral("No results"));
        EXPECT_EQ(table.language(QLocale(language)), QString());
    }
    EXPECT_EQ(table.language(vietnamese), QStringLiteral("vi"));
}

TEST(StringTable, ALanguageTheHostDoesNotOfferReadsEnglish) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    write(folder, "vi.json", R"({"Done": "Xong"})");
    write(folder, "ja.json", R"({"Done": "完了"})");
    const StringTable table(folder.path(), {"en", "vi", "ja"});
    const QLocale vietnamese(QLocale::Vietnamese, QLocale::Vietnam), japanese(QLocale::Japanese, QLocale::Japan);
    const QString done = QStringLiteral("Done");
    StringTable::setHostLanguages(QStringList{"en"});
    EXPECT_EQ(table.text(done, vietnamese), done);
    EXPECT_EQ(table.language(vietnamese), QString());
    EXPECT_EQ(table.text(done, japanese), done);
    StringTable::setHostLanguages(QStringList{"en", "vi_VN"});
    EXPECT_EQ(table.text(done, vietnamese), QStringLiteral("Xong"));
    EXPECT_EQ(table.language(vietnamese), QStringLiteral("vi"));
    EXPECT_EQ(table.text(done, japanese), done);
    StringTable::setHostLanguages(std::nullopt);
    EXPECT_EQ(table.text(done, japanese), QString::fromUtf8("完了"));
}

}  // namespace
