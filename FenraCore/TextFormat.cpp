#include "FenraCore/TextFormat.h"

namespace kelto {

namespace {

// The length of the conversion at `at` (just after '%' and any "n$"), or 0.
qsizetype conversionLength(const QString& pattern, qsizetype at, bool& integer) {
    for (const QString& form : {QStringLiteral("lld"), QStringLiteral("ld"), QStringLiteral("d")}) {
        if (pattern.mid(at, form.size()) == form) {
            integer = true;
            return form.size();
        }
    }
    integer = false;
    return pattern.mid(at, 1) == QStringLiteral("@") ? 1 : 0;
}

}  // namespace

QString TextFormat::format(const QString& pattern, const QVariantList& arguments, const QLocale& locale) {
    QString out;
    out.reserve(pattern.size());
    qsizetype next = 0;  // the argument an unnumbered placeholder takes
    qsizetype i = 0;
    while (i < pattern.size()) {
        const QChar c = pattern.at(i);
        if (c != u'%' || i + 1 >= pattern.size()) {
            out.append(c);
            ++i;
            continue;
        }
        if (pattern.at(i + 1) == u'%') {
            out.append(u'%');
            i += 2;
            continue;
        }
        qsizetype at = i + 1;
        qsizetype index = -1;
        qsizetype digits = at;
        while (digits < pattern.size() && pattern.at(digits).isDigit()) ++digits;
        if (digits > at && digits < pattern.size() && pattern.at(digits) == u'$') {
            index = pattern.mid(at, digits - at).toLongLong() - 1;
            at = digits + 1;
        }
        bool integer = false;
        const qsizetype length = conversionLength(pattern, at, integer);
        const qsizetype argument = index >= 0 ? index : next;
        if (length == 0 || argument < 0 || argument >= arguments.size()) {
            out.append(c);  // not ours to fill: kept as written
            ++i;
            continue;
        }
        const QVariant& value = arguments.at(argument);
        if (integer) {
            QLocale plain = locale;
            plain.setNumberOptions(plain.numberOptions() | QLocale::OmitGroupSeparator);
            out.append(plain.toString(value.toLongLong()));
        } else {
            out.append(value.toString());
        }
        if (index < 0) ++next;
        i = at + length;
    }
    return out;
}

}  // namespace kelto
