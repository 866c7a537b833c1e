#pragma once

#include "SyncModel/Support/Date.h"
#include "SyncModel/VolumeIdentity.h"

#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <cstdint>

namespace kelto {

// The number, size and time formats of every window, each in the locale it
// is given. Texts come out in the locale's language without any string table.
struct DisplayFormat {
    // A file size in decimal units: "999 bytes", "2 kB", "1.2 MB", "3.46 GB"
    // (whole kilobytes, one digit for megabytes, two above).
    static QString bytes(std::int64_t count, const QLocale& locale);
    // A count with the locale's grouping: "1,234" in English, "1.234" in German.
    static QString integer(std::int64_t value, const QLocale& locale);
    // A fraction (0.42) as a whole percentage: "42%", "42 %".
    static QString percent(double fraction, const QLocale& locale);
    // Abbreviated date with short time: "Jan 5, 2024, 3:04 PM".
    static QString dateTime(Date moment, const QLocale& locale, const QTimeZone& zone = QTimeZone::systemTimeZone());
    // The short time of day alone: "3:04 PM", "15:04".
    static QString time(Date moment, const QLocale& locale, const QTimeZone& zone = QTimeZone::systemTimeZone());
    // Where `moment` lies seen from `reference`, in words with full unit
    // names, named where the language has a word: "1 minute ago",
    // "in 5 minutes", "now", "yesterday". The largest unit that fits
    // whole is used, counted toward zero.
    static QString relative(Date moment, Date reference, const QLocale& locale);
    // The same words worked out at `reference` and shown at `now`, later:
    // a moment that has passed by `now` is never phrased as future. One
    // that came after `reference` (a run that ended since) reads as the
    // present.
    static QString relative(Date moment, Date reference, Date now, const QLocale& locale);
    // The locale's plural category of a count: "zero", "one", "two", "few",
    // "many" or "other" ("one" for 1 in English, "other" for 0 and 2).
    static QString pluralCategory(std::int64_t count, const QLocale& locale);
    // The locale whose names and patterns stand for `locale` where Qt's own
    // are used (day names, the time pattern of a time field). Qt's C locale,
    // that of a fresh machine's C.UTF-8, numbers the days and gives times
    // with seconds: it reads as American English, as the formats above do.
    static QLocale formatLocale(const QLocale& locale);
    // The name shown under a folder for the volume that holds it; empty for
    // an unlabelled root file system, which is named by its mount point "/"
    // and so says nothing.
    static QString volumeName(const VolumeIdentity& volume);
};

}  // namespace kelto
