#include "Kelto_Sync/SyncStrings.h"

#include "FenraCore/TextFormat.h"
#include "Kelto_Sync/DisplayFormat.h"

#include <algorithm>

// Outside any namespace, as Qt's resource initialiser requires. Naming it
// here also keeps a static link from dropping the compiled-in tables.
static void initialiseStringResources() {
    Q_INIT_RESOURCE(KeltoSyncStrings);
}

namespace kelto {

SyncStrings SyncStrings::application() {
    static const StringTable table = [] {
        initialiseStringResources();
        return StringTable(QStringLiteral(":/KeltoSync/Strings"), languages());
    }();
    return SyncStrings(table);
}

QLocale SyncStrings::windowsLocale(const QLocale& system) {
    const QString language = QLocale::languageToCode(system.language());
    const bool offered = std::any_of(languages().begin(), languages().end(), [&](const QString& code) {
        return code.section(u'-', 0, 0).compare(language, Qt::CaseInsensitive) == 0;
    });
    if (offered || system.language() == QLocale::C) return system;
    return QLocale(QLocale::English, system.territory());
}

const QStringList& SyncStrings::languages() {
    static const QStringList offered{QStringLiteral("en")};
    return offered;
}

QString SyncStrings::text(const QString& english, const QLocale& locale) const {
    if (table_ == nullptr) {
        return english;
    }
    const QString found = table_->text(english, locale);
    if (found != english || locale.language() == QLocale::English) {
        return found;
    }
    return table_->text(english, QLocale(QLocale::English));
}

QString SyncStrings::format(const QString& english, const QVariantList& values, const QLocale& locale) const {
    return TextFormat::format(text(english, locale), values, locale);
}

QString SyncStrings::count(const QString& english, qlonglong count, QVariantList more, const QLocale& locale) const {
    const QString form = english + QLatin1Char('#') + DisplayFormat::pluralCategory(count, locale);
    QString pattern = text(form, locale);
    if (pattern == form) pattern = text(english, locale);
    more.prepend(count);
    return TextFormat::format(pattern, more, locale);
}

}  // namespace kelto
