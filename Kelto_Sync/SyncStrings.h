#pragma once

#include "FenraCore/StringTable.h"
#include "SyncModel/Support/Json.h"

#include <QLocale>
#include <QString>
#include <QVariantList>

#include <string_view>

namespace kelto {

// The texts of the application's windows, keyed by their English form. A
// plain value that views receive from their parent; one without a table
// shows every key as it stands (values still filled in), and so does a key
// the table lacks. A language without a table of its own reads the English
// table, so that computed keys still read as words.
class SyncStrings {
public:
    // No table at all.
    SyncStrings() = default;
    explicit SyncStrings(const StringTable& table) : table_(&table) {}

    // The tables compiled into the application.
    static SyncStrings application();
    // The languages the application's own texts carry; the kit's and the
    // permission texts speak none other.
    static const QStringList& languages();
    // The locale the windows speak in: the system's when its language is
    // one of languages() (or C), else English with the system's region for
    // numbers and dates, so that no words of another language show.
    static QLocale windowsLocale(const QLocale& system);

    // Fixed text, or a text needed as a value (titles, tooltips).
    QString text(const QString& english, const QLocale& locale) const;
    // Text with values: "%@" takes a string, "%lld" an integer.
    QString format(const QString& english, const QVariantList& values, const QLocale& locale) const;
    // Text whose first value is a count, in the form for the count's plural
    // category: the table's text under the key followed by "#" and the
    // category ("Archived: %lld files#one"), else the key's own text.
    QString count(const QString& english, qlonglong count, QVariantList more, const QLocale& locale) const;
    // A computed key: the prefix ("phase.", "fileSkip.", "trigger.",
    // "validation.", "warning.") and a case's stored name.
    template <class E>
    QString computed(std::string_view prefix, E value, const QLocale& locale) const {
        return text(computedKey(prefix, value), locale);
    }
    template <class E>
    static QString computedKey(std::string_view prefix, E value) {
        return QString::fromUtf8(prefix.data(), static_cast<qsizetype>(prefix.size())) +
               QString::fromUtf8(enumName(value).data(), static_cast<qsizetype>(enumName(value).size()));
    }

private:
    const StringTable* table_ = nullptr;
};

}  // namespace kelto
