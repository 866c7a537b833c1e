#include "Kelto_Sync/DisplayFormat.h"

#include <unicode/datefmt.h>
#include <unicode/measunit.h>
#include <unicode/numberformatter.h>
#include <unicode/plurrule.h>
#include <unicode/reldatefmt.h>
#include <unicode/timezone.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>

namespace kelto {
namespace {

icu::Locale icuLocale(const QLocale& locale) {
    if (locale.language() == QLocale::C) {
        return icu::Locale("en_US_POSIX");
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale result = icu::Locale::forLanguageTag(locale.bcp47Name().toStdString(), status);
    return U_SUCCESS(status) ? result : icu::Locale("en_US_POSIX");
}

QString toQString(const icu::UnicodeString& text) {
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

QString formatted(const icu::number::LocalizedNumberFormatter& formatter, double value) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::UnicodeString text = formatter.formatDouble(value, status).toString(status);
    return U_SUCCESS(status) ? toQString(text) : QString::number(value);
}

struct ByteUnit {
    icu::MeasureUnit unit;
    int fractionDigits;
};

// A moment in the locale's pattern for the skeleton's fields.
QString skeletonFormatted(const char* skeleton, Date moment, const QLocale& locale, const QTimeZone& zone) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createInstanceForSkeleton(icu::UnicodeString(skeleton), icuLocale(locale), status));
    if (U_FAILURE(status) || !format) {
        return QString::number(moment.unix(), 'f', 0);
    }
    const QByteArray zoneID = zone.isValid() ? zone.id() : QByteArrayLiteral("UTC");
    format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneID.toStdString())));
    icu::UnicodeString text;
    format->format(moment.unix() * 1000.0, text);
    return toQString(text);
}

}  // namespace

QString DisplayFormat::bytes(std::int64_t count, const QLocale& locale) {
    namespace number = icu::number;
    const auto base = number::NumberFormatter::withLocale(icuLocale(locale));
    const double magnitude = std::fabs(static_cast<double>(count));
    if (magnitude < 1000) {
        return formatted(base.unit(icu::MeasureUnit::getByte()).unitWidth(UNUM_UNIT_WIDTH_FULL_NAME),
                         static_cast<double>(count));
    }
    const std::array<ByteUnit, 5> units{{{icu::MeasureUnit::getKilobyte(), 0},
                                         {icu::MeasureUnit::getMegabyte(), 1},
                                         {icu::MeasureUnit::getGigabyte(), 2},
                                         {icu::MeasureUnit::getTerabyte(), 2},
                                         {icu::MeasureUnit::getPetabyte(), 2}}};
    double value = static_cast<double>(count) / 1000;
    std::size_t index = 0;
    // The unit is chosen after rounding, so 999,999 bytes reads 1.0 MB, not 1,000 kB.
    while (index + 1 < units.size()) {
        const double scale = std::pow(10.0, units[index].fractionDigits);
        if (std::round(std::fabs(value) * scale) / scale < 1000) {
            break;
        }
        value /= 1000;
        ++index;
    }
    return formatted(base.unit(units[index].unit)
                         .unitWidth(UNUM_UNIT_WIDTH_SHORT)
                         .precision(number::Precision::fixedFraction(units[index].fractionDigits)),
                     value);
}

QString DisplayFormat::integer(std::int64_t value, const QLocale& locale) {
    return locale.toString(static_cast<qlonglong>(value));
}

QString DisplayFormat::percent(double fraction, const QLocale& locale) {
    namespace number = icu::number;
    return formatted(number::NumberFormatter::withLocale(icuLocale(locale))
                         .unit(icu::NoUnit::percent())
                         .scale(number::Scale::powerOfTen(2))
                         .precision(number::Precision::integer()),
                     fraction);
}

QString DisplayFormat::dateTime(Date moment, const QLocale& locale, const QTimeZone& zone) {
    return skeletonFormatted("yMMMdjmm", moment, locale, zone);
}

QString DisplayFormat::time(Date moment, const QLocale& locale, const QTimeZone& zone) {
    return skeletonFormatted("jmm", moment, locale, zone);
}

QLocale DisplayFormat::formatLocale(const QLocale& locale) {
    return locale.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates) : locale;
}

QString DisplayFormat::relative(Date moment, Date reference, const QLocale& locale) {
    return relative(moment, reference, reference, locale);
}

QString DisplayFormat::relative(Date moment, Date reference, Date now, const QLocale& locale) {
    struct Step {
        double seconds;  // the unit's length
        double below;    // used while the distance is shorter than this
        URelativeDateTimeUnit unit;
    };
    constexpr double day = 86400;
    constexpr std::array<Step, 7> steps{{{1, 60, UDAT_REL_UNIT_SECOND},
                                         {60, 3600, UDAT_REL_UNIT_MINUTE},
                                         {3600, day, UDAT_REL_UNIT_HOUR},
                                         {day, 7 * day, UDAT_REL_UNIT_DAY},
                                         {7 * day, 30 * day, UDAT_REL_UNIT_WEEK},
                                         {30 * day, 365 * day, UDAT_REL_UNIT_MONTH},
                                         {365 * day, std::numeric_limits<double>::infinity(), UDAT_REL_UNIT_YEAR}}};
    double distance = moment.secondsSince(reference);
    if (distance > 0 && moment.secondsSince(now) <= 0) distance = 0;
    const Step* step = &steps.front();
    while (std::fabs(distance) >= step->below) {
        ++step;
    }
    // Plus zero, so that a moment just past reads as the present, not as "0 seconds ago".
    const double count = std::trunc(distance / step->seconds) + 0.0;

    UErrorCode status = U_ZERO_ERROR;
    icu::RelativeDateTimeFormatter formatter(icuLocale(locale), nullptr, UDAT_STYLE_LONG,
                                             UDISPCTX_CAPITALIZATION_NONE, status);
    icu::UnicodeString text;
    formatter.format(count, step->unit, text, status);
    return U_SUCCESS(status) ? toQString(text) : QString::number(distance, 'f', 0);
}

QString DisplayFormat::pluralCategory(std::int64_t count, const QLocale& locale) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::PluralRules> rules(icu::PluralRules::forLocale(icuLocale(locale), status));
    if (U_FAILURE(status) || !rules) return count == 1 ? QStringLiteral("one") : QStringLiteral("other");
    return toQString(rules->select(static_cast<double>(count)));
}

QString DisplayFormat::volumeName(const VolumeIdentity& volume) {
    return volume.name == "/" ? QString() : QString::fromStdString(volume.name);
}

}  // namespace kelto
