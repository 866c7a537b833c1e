#pragma once

#include <QHash>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <map>

namespace kelto {

// Texts keyed by their English form, one JSON object per language compiled
// in as a Qt resource (`<folder>/<language>.json`, key → text). A language
// without a table, and a key its table lacks, show the English key itself.
class StringTable {
public:
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
