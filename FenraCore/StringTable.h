#pragma once

#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

namespace kelto {

// Texts keyed by their English form, one JSON object per language compiled
// in as a Qt resource (`<folder>/<language>.json`, key → text). A language
// without a table, and a key its table lacks, show the English key itself.
// A language the host application does not offer is never used, so that a
// window never speaks two languages: the kit follows the host.
class StringTable {
public:
    // The languages the host application's own texts carry (codes such as
    // "en", "vi", "zh-Hant"), set once as it starts. Until then (or after
    // nullopt) every language of a table serves.
    static void setHostLanguages(std::optional<QStringList> languages);
    static std::optional<QStringList> hostLanguages();
    // Whether the host offers `language`, a code or a locale's name, by its
    // language alone ("vi_VN" is offered by a host of "vi").
    static bool hostOffers(const QString& language);

    // Reads the tables of the languages listed; one whose resource is
    // missing or is not a JSON object of strings is left out.
    StringTable(const QString& resourceFolder, const QStringList& languages);

    QString text(const QString& english, const QLocale& locale) const;
    // The language code of the table that serves the locale; empty when none
    // does and the English keys show.
    QString language(const QLocale& locale) const;

private:
    std::map<QString, QHash<QString, QString>> tables_;
};

}  // namespace kelto
