#include "FenraMac/FenraMacStrings.h"

// Outside any namespace, as Qt's resource initialiser requires. Naming it
// here also keeps a static link from dropping the compiled-in tables.
static void initialiseStringResources() {
    Q_INIT_RESOURCE(FenraMacStrings);
}

namespace kelto {

const StringTable& FenraMacStrings::table() {
    static const StringTable table = [] {
        initialiseStringResources();
        return StringTable(QStringLiteral(":/FenraMac/Strings"), {QStringLiteral("en"), QStringLiteral("vi")});
    }();
    return table;
}

QString FenraMacStrings::text(const QString& english, const QLocale& locale) {
    return table().text(english, locale);
}

QString FenraMacStrings::localizedBundle(const QLocale& locale) {
    return table().language(locale);
}

}  // namespace kelto
