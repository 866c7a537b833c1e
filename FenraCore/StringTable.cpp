#include "FenraCore/StringTable.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

#include <mutex>
#include <optional>

namespace kelto {
namespace {

std::optional<QHash<QString, QString>> readTable(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) {
        return std::nullopt;
    }
    QHash<QString, QString> table;
    const QJsonObject object = document.object();
    for (auto entry = object.begin(); entry != object.end(); ++entry) {
        if (!entry.value().isString()) {
            return std::nullopt;
        }
        table.insert(entry.key(), entry.value().toString());
    }
    return table;
}

struct Host {
    std::mutex mutex;
    std::optional<QStringList> languages;
};

Host& host() {
    static Host shared;
    return shared;
}

QString primaryLanguage(const QString& code) {
    return code.section(QRegularExpression(QStringLiteral("[-_.@]")), 0, 0).toLower();
}

}  // namespace

void StringTable::setHostLanguages(std::optional<QStringList> languages) {
    std::lock_guard lock(host().mutex);
    host().languages = std::move(languages);
}

std::optional<QStringList> StringTable::hostLanguages() {
    std::lock_guard lock(host().mutex);
    return host().languages;
}

bool StringTable::hostOffers(const QString& language) {
    const std::optional<QStringList> languages = hostLanguages();
    if (!languages) return true;
    const QString wanted = primaryLanguage(language);
    return std::any_of(languages->begin(), languages->end(),
                       [&](const QString& offered) { return primaryLanguage(offered) == wanted; });
}

StringTable::StringTable(const QString& resourceFolder, const QStringList& languages) {
    for (const QString& language : languages) {
        if (auto table = readTable(resourceFolder + QLatin1Char('/') + language + QStringLiteral(".json"))) {
            tables_.emplace(language, std::move(*table));
        }
    }
}

QString StringTable::text(const QString& english, const QLocale& locale) const {
    const QString code = language(locale);
    if (code.isEmpty()) return english;
    return tables_.at(code).value(english, english);
}

QString StringTable::language(const QLocale& locale) const {
    const auto table = tables_.find(QLocale::languageToCode(locale.language()));
    if (table == tables_.end() || !hostOffers(table->first)) return QString();
    return table->first;
}

}  // namespace kelto
