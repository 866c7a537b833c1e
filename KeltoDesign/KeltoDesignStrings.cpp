#include "KeltoDesign/KeltoDesignStrings.h"

// Outside any namespace, as Qt's resource initialiser requires. Naming it
// here also keeps a static link from dropping the compiled-in tables.
static void initialiseStringResources() {
    Q_INIT_RESOURCE(KeltoDesignStrings);
}

namespace kelto {

const StringTable& KeltoDesignStrings::table() {
    static const StringTable table = [] {
        initialiseStringResources();
        return StringTable(QStringLiteral(":/KeltoDesign/Strings"), {QStringLiteral("en"), QStringLiteral("vi")});
    }();
    return table;
}

QString KeltoDesignStrings::text(const QString& english, const QLocale& locale) {
    return table().text(english, locale);
}

}  // namespace kelto
