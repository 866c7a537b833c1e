#pragma once

#include "FenraCore/StringTable.h"

#include <QLocale>
#include <QString>

namespace kelto {

// The texts the design package's controls give assistive technology, in
// English ("en") and Vietnamese ("vi"); any other language reads the English
// text, which is also the key.
struct KeltoDesignStrings {
    // Read once per process, on first use, whatever thread comes first.
    static const StringTable& table();
    static QString text(const QString& english, const QLocale& locale);
};

}  // namespace kelto
