#include "Kelto_Sync/Editor/EditorLocale.h"

#include "Kelto_Sync/DisplayFormat.h"

#include <QStringList>

namespace kelto {

QString EditorLocale::weekdayName(std::int64_t day, QLocale::FormatType format, const QLocale& locale) {
    if (day < 1 || day > 7) {
        return {};
    }
    const int qtDay = day == 1 ? 7 : static_cast<int>(day - 1);
    return DisplayFormat::formatLocale(locale).dayName(qtDay, format);
}

QString EditorLocale::dayList(const std::set<std::int64_t>& days, const QLocale& locale) {
    QStringList names;
    for (const std::int64_t day : days) {
        if (day >= 1 && day <= 7) {
            names << weekdayName(day, QLocale::ShortFormat, locale);
        }
    }
    return names.join(QStringLiteral(", "));
}

QTime EditorLocale::time(std::int64_t hour, std::int64_t minute) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59) {
        return QTime::currentTime();
    }
    return QTime(static_cast<int>(hour), static_cast<int>(minute));
}

QString EditorLocale::shortTime(std::int64_t hour, std::int64_t minute, const QLocale& locale) {
    return DisplayFormat::formatLocale(locale).toString(time(hour, minute), QLocale::ShortFormat);
}

QString EditorLocale::timeFormat(const QLocale& locale) {
    return DisplayFormat::formatLocale(locale).timeFormat(QLocale::ShortFormat);
}

std::optional<std::int64_t> EditorLocale::parseInteger(const QString& text, const QLocale& locale) {
    bool ok = false;
    const qlonglong value = locale.toLongLong(text.trimmed(), &ok);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

QString EditorLocale::integer(std::int64_t value, const QLocale& locale) {
    return locale.toString(static_cast<qlonglong>(value));
}

}  // namespace kelto
