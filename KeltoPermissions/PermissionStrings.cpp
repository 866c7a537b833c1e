#include "KeltoPermissions/PermissionStrings.h"

#include "FenraCore/StringTable.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>
#include <mutex>
#include <optional>

// Outside any namespace, as Qt's resource initialiser requires. Naming it
// here also keeps a static link from dropping the compiled-in tables.
static void initialiseStringResources() {
    Q_INIT_RESOURCE(KeltoPermissionsStrings);
}

namespace kelto {
namespace {

using Table = QHash<QString, QString>;
// Key, then language, then text.
using Catalogue = QHash<QString, Table>;

std::optional<QJsonObject> readObject(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject()) return std::nullopt;
    return document.object();
}

std::optional<Table> readFolderTable(const QString& folder) {
    const auto object = readObject(folder + QStringLiteral("/Localizable.json"));
    if (!object) return std::nullopt;
    Table table;
    for (auto entry = object->begin(); entry != object->end(); ++entry) {
        if (!entry.value().isString()) return std::nullopt;
        table.insert(entry.key(), entry.value().toString());
    }
    return table;
}

// Every member the shape names is required: one entry without it, or with
// another shape (plural variants), makes the whole catalogue unusable.
std::optional<Catalogue> readCatalogue(const QString& path) {
    const auto top = readObject(path);
    if (!top || !top->value(QStringLiteral("strings")).isObject()) return std::nullopt;
    Catalogue catalogue;
    const QJsonObject strings = top->value(QStringLiteral("strings")).toObject();
    for (auto entry = strings.begin(); entry != strings.end(); ++entry) {
        const QJsonValue localizations = entry.value().toObject().value(QStringLiteral("localizations"));
        if (!entry.value().isObject() || !localizations.isObject()) return std::nullopt;
        Table texts;
        const QJsonObject byLanguage = localizations.toObject();
        for (auto translation = byLanguage.begin(); translation != byLanguage.end(); ++translation) {
            const QJsonValue unit = translation.value().toObject().value(QStringLiteral("stringUnit"));
            const QJsonValue value = unit.toObject().value(QStringLiteral("value"));
            if (!translation.value().isObject() || !unit.isObject() || !value.isString()) return std::nullopt;
            texts.insert(translation.key(), value.toString());
        }
        catalogue.insert(entry.key(), texts);
    }
    return catalogue;
}

// Each file is read once per process, failures included.
template <class T>
const std::optional<T>& cached(const QString& path, std::optional<T> (*read)(const QString&)) {
    static std::mutex mutex;
    static std::map<QString, std::optional<T>> files;
    std::lock_guard lock(mutex);
    auto found = files.find(path);
    if (found == files.end()) {
        found = files.emplace(path, read(path)).first;
    }
    return found->second;
}

// "zh_TW.UTF-8" → "zh-TW"; Chinese becomes "zh-Hant" or "zh-Hans".
QString normalisedLanguage(QString language) {
    for (const QChar end : {u'.', u'@'}) {
        const qsizetype at = language.indexOf(end);
        if (at >= 0) language.truncate(at);
    }
    language.replace(u'_', u'-');
    const QStringList parts = language.split(u'-', Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.first().compare(u"zh", Qt::CaseInsensitive) != 0) {
        return language;
    }
    for (const QString& part : parts.mid(1)) {
        const QString upper = part.toUpper();
        if (upper == u"HANT" || upper == u"TW" || upper == u"HK" || upper == u"MO") return QStringLiteral("zh-Hant");
    }
    return QStringLiteral("zh-Hans");
}

std::optional<QString> carried(const QString& userLanguage, const QStringList& hostLanguages) {
    const QString language = normalisedLanguage(userLanguage);
    const QString primary = language.section(u'-', 0, 0);
    for (const QString& candidate : {language, primary}) {
        for (const QString& host : hostLanguages) {
            if (host.compare(candidate, Qt::CaseInsensitive) == 0) return host;
        }
    }
    return std::nullopt;
}

}  // namespace

PermissionStrings::PermissionStrings(const QString& hostFolder, const QStringList& hostLanguages,
                                     const QStringList& userLanguages, const QString& resourceFolder)
    : language_(chooseLanguage(hostFolder, hostLanguages, userLanguages)), resourceFolder_(resourceFolder) {}

QLocale PermissionStrings::locale() const {
    return QLocale(language_);
}

QString PermissionStrings::string(const QString& key) const {
    const QString folder = resourceFolder_ + u'/' + language_ + QStringLiteral(".lproj");
    if (QFileInfo(folder).isDir()) {
        // The folder answers alone, also for keys its table lacks.
        const auto& table = cached<Table>(folder, readFolderTable);
        return table ? table->value(key, key) : key;
    }
    const auto& catalogue = cached<Catalogue>(resourceFolder_ + QStringLiteral("/Localizable.xcstrings"), readCatalogue);
    if (catalogue) {
        const auto entry = catalogue->constFind(key);
        if (entry != catalogue->constEnd()) {
            const auto text = entry->constFind(language_);
            if (text != entry->constEnd()) return *text;
        }
    }
    return key;
}

const QStringList& PermissionStrings::supportedLanguages() {
    static const QStringList languages{QStringLiteral("en"), QStringLiteral("vi"), QStringLiteral("ja"),
                                       QStringLiteral("ko"), QStringLiteral("zh-Hant")};
    return languages;
}

QStringList PermissionStrings::declaredHostLanguages() {
    return StringTable::hostLanguages().value_or(supportedLanguages());
}

QString PermissionStrings::chooseLanguage(const QString& hostFolder, const QStringList& hostLanguages,
                                          const QStringList& userLanguages) {
    QString candidate = QStringLiteral("en");
    QString path = hostFolder;
    while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
    const QFileInfo folder(path);
    if (!path.isEmpty() && folder.suffix() == u"lproj") {
        candidate = folder.completeBaseName();
    } else {
        for (const QString& userLanguage : userLanguages) {
            if (const auto language = carried(userLanguage, hostLanguages)) {
                candidate = *language;
                break;
            }
        }
    }
    return supportedLanguages().contains(candidate) ? candidate : QStringLiteral("en");
}

QString PermissionStrings::compiledFolder() {
    static const bool initialised = [] {
        initialiseStringResources();
        return true;
    }();
    (void)initialised;
    return QStringLiteral(":/KeltoPermissions/Strings");
}

}  // namespace kelto
