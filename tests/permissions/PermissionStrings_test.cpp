#include "FenraCore/StringTable.h"
#include "FenraCore/TextFormat.h"
#include "KeltoPermissions/PermissionStatus.h"
#include "KeltoPermissions/PermissionStrings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kelto {
namespace {

const QStringList five = PermissionStrings::supportedLanguages();

// A folder name wins, then the first user language the host carries, then English. Unless told otherwise, the host's
// languages are those it declared to the kit: a user language the host does not offer gives English.
TEST(PermissionStringsLanguage, TheHostsDeclaredLanguagesChoose) {
    EXPECT_EQ(PermissionStrings::chooseLanguage(QStringLiteral("/opt/kelto/ja.lproj"), five, {"vi"}), "ja");
    EXPECT_EQ(PermissionStrings::chooseLanguage(QStringLiteral("/opt/kelto/ko.lproj/"), five, {"vi"}), "ko");
    EXPECT_EQ(PermissionStrings::chooseLanguage(QStringLiteral("/opt/kelto/fr.lproj"), five, {"vi"}), "en");
    // French is carried, so it is the candidate, and it is not supported.
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, {"en", "fr", "ja"}, {"fr-FR", "ja"}), "en");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"de-DE", "ja_JP.UTF-8"}), "ja");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh_TW"}), "zh-Hant");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh-HK"}), "zh-Hant");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh-Hant-TW"}), "zh-Hant");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh_CN"}), "en");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, {"en", "zh-Hans"}, {"zh_CN", "vi"}), "en");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {}), "en");
    EXPECT_EQ(PermissionStrings(QStringLiteral("/opt/kelto/vi.lproj"), five, {"ja"}).language(), "vi");
    const QStringList vietnamese{"vi_VN.UTF-8", "vi"};
    StringTable::setHostLanguages(QStringList{"en"});
    EXPECT_EQ(PermissionStrings({}, PermissionStrings::declaredHostLanguages(), vietnamese).language(), "en");
    EXPECT_EQ(PermissionStrings({}, PermissionStrings::declaredHostLanguages(), vietnamese).string("Done"), "Done");
    StringTable::setHostLanguages(QStringList{"en", "vi"});
    EXPECT_EQ(PermissionStrings({}, PermissionStrings::declaredHostLanguages(), vietnamese).language(), "vi");
    StringTable::setHostLanguages(std::nullopt);
    EXPECT_EQ(PermissionStrings::declaredHostLanguages(), five);
}

// Tables written into a temporary folder, shaped as the compiled-in ones: a language's folder answers alone, the
// catalogue serves the rest by language, and one entry of another shape leaves every key untranslated.
TEST(PermissionStringsLookup, AFolderAnswersAloneTheCatalogueServesTheRestUnlessAnEntryHasAnotherShape) {
    QTemporaryDir root;
    const auto write = [&](const QString& relative, const QByteArray& content) {
        const QString path = root.path() + u'/' + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    };
    const auto strings = [&](const QString& language, const QString& folder) {
        return PermissionStrings(QStringLiteral("/opt/") + language + QStringLiteral(".lproj"), five, {},
                                 root.path() + u'/' + folder);
    };
    write(QStringLiteral("good/vi.lproj/Localizable.json"), R"({"On": "Bật"})");
    write(QStringLiteral("good/Localizable.xcstrings"), R"({
        "sourceLanguage": "en", "version": "1.0",
        "strings": {
            "Allowed": {"comment": "status", "localizations": {
                "vi": {"stringUnit": {"state": "translated", "value": "Đã cho phép"}},
                "ko": {"stringUnit": {"state": "translated", "value": "허용됨"}}}},
            "Off": {"localizations": {
                "en": {"stringUnit": {"state": "translated", "value": "OFF"}},
                "vi": {"stringUnit": {"state": "translated", "value": "Tắt"}}}}
        }})");
    const PermissionStrings vietnamese = strings(QStringLiteral("vi"), QStringLiteral("good"));
    EXPECT_EQ(vietnamese.string(QStringLiteral("On")), "Bật");
    EXPECT_EQ(vietnamese.string(QStringLiteral("Allowed")), "Allowed");
    const PermissionStrings korean = strings(QStringLiteral("ko"), QStringLiteral("good"));
    EXPECT_EQ(korean.string(QStringLiteral("Allowed")), "허용됨");
    EXPECT_EQ(korean.string(QStringLiteral("Off")), "Off");
    EXPECT_EQ(korean.string(QStringLiteral("Unknown key")), "Unknown key");
    write(QStringLiteral("plural/Localizable.xcstrings"), R"({"strings": {
            "Allowed": {"localizations": {"ko": {"stringUnit": {"value": "허용됨"}}}},
            "%lld of %lld ready": {"localizations": {"ko": {"variations": {"plural": {}}}}}
        }})");
    EXPECT_EQ(strings(QStringLiteral("ko"), QStringLiteral("plural")).string(QStringLiteral("Allowed")), "Allowed");
    write(QStringLiteral("bare/Localizable.xcstrings"),
          R"({"strings": {"Allowed": {"localizations": {"ko": {"stringUnit": {"value": "허용됨"}}}},
                          "Off": {"comment": "no translations yet"}}})");
    EXPECT_EQ(strings(QStringLiteral("ko"), QStringLiteral("bare")).string(QStringLiteral("Allowed")), "Allowed");
    // No tables at all: English, and no stop.
    EXPECT_EQ(strings(QStringLiteral("ko"), QStringLiteral("none")).string(QStringLiteral("Allowed")), "Allowed");
}

const QStringList packageKeys{
    "Checking…", "Allowed", "Not allowed", "On", "Off", "Turned off in System Settings", "Needs approval",
    "Restart needed", "Can't verify", "Full Disk Access", "Open at login", "The login item could not be found.",
    "Notifications", "Review this setting, then return to %@.", "Find %@ in the list and turn it on.",
    "Not in the list? Drag it in:", "Move %@ to Applications and reopen it.", "Show in Finder",
    "No file manager could show %@.",
    "Still not working? Select %@, remove it with −, then drag it in again.",
    "Switch greyed out? An administrator or your organization manages this setting.", "Turn on %@", "Back to %@",
    "Restart %@", "Drag into the list", "%lld of %lld ready", "Done", "Set up later", "Required", "Recommended",
    "Optional", "Allow", "Turn On", "Open System Settings", "Marked done", "I've done this",
    "The settings could not be opened."};

TEST(PermissionStringsShipped, EveryKeyIsTranslatedAndEnglishNamesThePlacesOfThisSystem) {
    for (const QString& language : QStringList{"vi", "ja", "ko", "zh-Hant"}) {
        const PermissionStrings strings({}, five, {language});
        ASSERT_EQ(strings.language(), language);
        for (const QString& key : packageKeys) {
            const QString text = strings.string(key);
            EXPECT_NE(text, key) << qPrintable(language) << ": " << qPrintable(key);
            EXPECT_EQ(text.count(QStringLiteral("%@")), key.count(QStringLiteral("%@"))) << qPrintable(key);
        }
    }
    const PermissionStrings english({}, five, {"en-GB"});
    EXPECT_EQ(english.string(QStringLiteral("Turned off in System Settings")), "Turned off in Settings");
    EXPECT_EQ(english.string(QStringLiteral("Open System Settings")), "Open Settings");
    EXPECT_EQ(english.string(QStringLiteral("Show in Finder")), "Show in File Manager");
    EXPECT_EQ(english.string(PermissionStatuses::title(PermissionStatus::granted, PermissionPresentation::setting)),
              "On");
    const QString ready = QStringLiteral("%lld of %lld ready");
    EXPECT_EQ(TextFormat::format(english.string(ready), {2, 3}, english.locale()), "2 of 3 ready");
    const PermissionStrings japanese({}, five, {"ja"});
    EXPECT_EQ(TextFormat::format(japanese.string(ready), {2, 3}, japanese.locale()), "3 件中 2 件完了");
}

}  // namespace
}  // namespace kelto
