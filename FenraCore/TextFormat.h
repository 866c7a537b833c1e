#pragma once

#include <QLocale>
#include <QString>
#include <QVariant>
#include <QVariantList>

namespace kelto {

// Fills a looked-up text's printf-style placeholders: "%@" takes a string,
// "%lld" (also "%ld", "%d") a 64-bit integer written in the locale's digits
// without grouping, "%%" is a percent sign. Placeholders take the arguments
// in order unless numbered ("%2$@", "%1$lld"). A placeholder without its
// argument, or of a kind not listed, is left as it stands.
struct TextFormat {
    static QString format(const QString& pattern, const QVariantList& arguments, const QLocale& locale = QLocale());
};

}  // namespace kelto
