#pragma once

#include "FenraCore/StringTable.h"

#include <QLocale>
#include <QString>

namespace kelto {

// The texts of the settings window's own controls, in English ("en") and
// Vietnamese ("vi"); any other language shows the English text, which is
// also the key.
struct FenraMacStrings {
    // Read once per process, on first use, whatever thread comes first.
    static const StringTable& table();
    static QString text(const QString& english, const QLocale& locale);
    // Where the texts for the locale come from: the code of its language's
    // table, or empty for the English keys themselves.
    static QString localizedBundle(const QLocale& locale);
};

}  // namespace kelto
