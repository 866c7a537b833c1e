#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

namespace kelto {

// The permission texts, keyed by their English form. One language is chosen
// at construction; a key is looked up in that language's folder table
// ("<language>.lproj/Localizable.json") when the folder exists, else in the
// string catalogue ("Localizable.xcstrings"), else shown as it is. Both lie
// in a Qt resource; a missing one only means English.
class PermissionStrings {
public:
    // `hostFolder`: the host's folder; one named "<language>.lproj" fixes the
    // language. `hostLanguages`: the languages the host's own texts carry,
    // as the host declared them to the kit (StringTable), else all five.
    // `userLanguages`: the user's UI languages, most preferred first.
    // `resourceFolder`: where the tables lie, the compiled-in ones unless a
    // test says otherwise.
    explicit PermissionStrings(const QString& hostFolder = {},
                               const QStringList& hostLanguages = declaredHostLanguages(),
                               const QStringList& userLanguages = QLocale::system().uiLanguages(),
                               const QString& resourceFolder = compiledFolder());

    // One of supportedLanguages().
    const QString& language() const { return language_; }
    // The locale to fill a text's placeholders with (TextFormat).
    QLocale locale() const;
    // Never empty for a non-empty key, unless a table says so.
    QString string(const QString& key) const;

    // "en", "vi", "ja", "ko", "zh-Hant", compared exactly.
    static const QStringList& supportedLanguages();
    // The host's languages as it declared them, else supportedLanguages().
    static QStringList declaredHostLanguages();
    // The folder's "<language>.lproj" name, else the first user language
    // the host carries (Chinese of Taiwan, Hong Kong or Macau, or in
    // traditional script, as "zh-Hant"), else "en"; anything unsupported
    // is "en".
    static QString chooseLanguage(const QString& hostFolder, const QStringList& hostLanguages,
                                  const QStringList& userLanguages);
    static QString compiledFolder();

private:
    QString language_;
    QString resourceFolder_;
};

}  // namespace kelto
