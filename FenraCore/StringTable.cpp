#include "FenraCore/StringTable.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

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

}  // namespace

StringTable::StringTable(const QString& resourceFolder, const QStringList& languages) {
    for (const QString& language : languages) {
        if (auto table = readTable(resourceFolder + QLatin1Char('/') + language + QStringLiteral(".json"))) {
            tables_.emplace(language, std::move(*table));
        }
    }
}

QString StringTable::text(const QString& english, const QLocale& locale) const {
    const auto table = tables_.find(QLocale::languageToCode(locale.language()));
    if (table == tables_.end()) {
        return english;
    }
    return table->second.value(english, english);
}

QString StringTable::language(const QLocale& locale) const {
    const auto table = tables_.find(QLocale::languageToCode(locale.language()));
    return table == tables_.end() ? QString() : table->first;
}

}  // namespace kelto
