#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/RelativeTimestamp.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncEngine/SyncPhase.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/ValidationReport.h"
#include "tests/support/widgets/QtPrinting.h"
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace kelto {
namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);

TEST(SyncStrings, EveryCountTextHasTheFormOfItsNumber) {
    const SyncStrings strings = SyncStrings::application();
    const std::pair<const char*, const char*> singulars[] = {
        {"Copied: %lld files, %@", "Copied: 1 file, 2 kB"}, {"Archived: %lld files", "Archived: 1 file"},
        {"%lld files copied", "1 file copied"},             {"Kept %lld days", "Kept 1 day"},
        {"Scanned %lld items", "Scanned 1 item"},
    };
    for (const auto& [key, one] : singulars) {
        EXPECT_EQ(strings.count(QLatin1String(key), 1, {QStringLiteral("2 kB")}, english), QLatin1String(one));
        EXPECT_EQ(strings.count(QLatin1String(key), 0, {QStringLiteral("2 kB")}, english),
                  strings.format(QLatin1String(key), {qlonglong(0), QStringLiteral("2 kB")}, english));
    }
    // No table: the key, as every other text.
    EXPECT_EQ(SyncStrings().count(QStringLiteral("Archived: %lld files"), 1, {}, english),
              QStringLiteral("Archived: 1 files"));
}

template <class E>
void expectEveryCaseWorded(const SyncStrings& strings, std::string_view prefix) {
    for (std::size_t i = 0; i < EnumNames<E>::names.size(); ++i) {
        const QString key = SyncStrings::computedKey(prefix, static_cast<E>(i));
        const QString text = strings.text(key, english);
        EXPECT_FALSE(text.isEmpty()) << key.toStdString();
        EXPECT_NE(text, key);
    }
}

TEST(SyncStrings, AKeyATableLacksShowsItselfAndTheShippedTableWordsEveryComputedKey) {
    QTemporaryDir folder;
    QFile en(folder.filePath(QStringLiteral("en.json")));
    ASSERT_TRUE(en.open(QIODevice::WriteOnly));
    en.write(R"({"phase.queued": "Waiting", "%lld files copied": "Copied %lld files"})");
    en.close();
    const StringTable table(folder.path(), {QStringLiteral("en")});
    const SyncStrings strings(table);
    EXPECT_EQ(strings.computed("phase.", SyncPhase::queued, english), QStringLiteral("Waiting"));
    EXPECT_EQ(strings.computed("phase.", SyncPhase::queued, german), QStringLiteral("Waiting"));
    EXPECT_EQ(strings.computed("phase.", SyncPhase::scanning, english), QStringLiteral("phase.scanning"));
    EXPECT_EQ(strings.computed("trigger.", RunTrigger::catchUp, german), QStringLiteral("trigger.catchUp"));
    EXPECT_EQ(strings.format(QStringLiteral("%lld files copied"), {qlonglong(3)}, english), "Copied 3 files");
    EXPECT_EQ(SyncStrings().format("Next: when %@ is connected", {QStringLiteral("Backup")}, english),
              "Next: when Backup is connected");
    // The application's table words every computed key and names Linux places.
    const SyncStrings shipped = SyncStrings::application();
    expectEveryCaseWorded<SyncPhase>(shipped, "phase.");
    expectEveryCaseWorded<FileSkipReason>(shipped, "fileSkip.");
    expectEveryCaseWorded<RunTrigger>(shipped, "trigger.");
    expectEveryCaseWorded<ValidationIssue>(shipped, "validation.");
    expectEveryCaseWorded<ValidationWarning>(shipped, "warning.");
    // The core builds the editor's keys itself; they must be the ones worded here.
    EXPECT_NE(shipped.text(QString::fromStdString(localizationKey(ValidationIssue::nested)), english),
              QString::fromStdString(localizationKey(ValidationIssue::nested)));
    EXPECT_EQ(shipped.text(QStringLiteral("Show in Finder"), english), "Show in File Manager");
    EXPECT_EQ(shipped.text(QStringLiteral("Open in Finder"), german), "Open in File Manager");
}

TEST(SyncStrings, TheWindowsSpeakALanguageTheApplicationOffers) {
    const QLocale vietnamese(QLocale::Vietnamese, QLocale::Vietnam);
    const QLocale chosen = SyncStrings::windowsLocale(vietnamese);
    EXPECT_EQ(chosen.language(), QLocale::English);
    const Date now = Date::fromUnix(1'700'000'000.0);
    const Date twoHoursBefore = Date::fromUnix(1'700'000'000.0 - 7200);
    EXPECT_EQ(DisplayFormat::relative(twoHoursBefore, now, chosen), QStringLiteral("2 hours ago"))
        << DisplayFormat::relative(twoHoursBefore, now, vietnamese).toStdString();
    for (const QLocale& kept : {QLocale(QLocale::English, QLocale::UnitedKingdom), QLocale::c(),
                                QLocale(QLocale::English, QLocale::UnitedStates)}) {
        EXPECT_EQ(SyncStrings::windowsLocale(kept), kept) << kept.name().toStdString();
    }
}

TEST(DisplayFormat, BytesPercentagesDatesAndRelativeTimesOfTheLocale) {
    EXPECT_EQ(DisplayFormat::bytes(1, english), "1 byte");
    EXPECT_EQ(DisplayFormat::bytes(1536, english), "2 kB");
    EXPECT_EQ(DisplayFormat::bytes(999'999, english), "1.0 MB");
    EXPECT_EQ(DisplayFormat::bytes(3'456'789'012, english), "3.46 GB");
    EXPECT_EQ(DisplayFormat::bytes(std::numeric_limits<std::int64_t>::max(), english), "9,223.37 PB");
    EXPECT_EQ(DisplayFormat::bytes(1'234'567, german), "1,2 MB");
    EXPECT_EQ(DisplayFormat::percent(0.424, english), "42%");
    EXPECT_EQ(DisplayFormat::percent(0.5, german), "50\u00A0%");
    const Date moment = Date::fromUnix(1704467040);  // 2024-01-05 15:04 UTC
    EXPECT_EQ(DisplayFormat::dateTime(moment, english, QTimeZone::utc()), "Jan 5, 2024, 3:04\u202FPM");
    EXPECT_EQ(DisplayFormat::dateTime(moment, german, QTimeZone("Europe/Berlin")), "5. Jan. 2024, 16:04");
    EXPECT_EQ(DisplayFormat::time(moment, german, QTimeZone::utc()), "15:04");
    const Date now{700'000'000};
    EXPECT_EQ(DisplayFormat::relative(now.adding(-90), now, english), "1 minute ago");
    EXPECT_EQ(DisplayFormat::relative(now.adding(300), now, english), "in 5 minutes");
    EXPECT_EQ(DisplayFormat::relative(now.adding(-0.4), now, english), "now");
    EXPECT_EQ(DisplayFormat::relative(now.adding(-3 * 3600 - 59), now, english), "3 hours ago");
    EXPECT_EQ(DisplayFormat::relative(now.adding(-86400), now, english), "yesterday");
    EXPECT_EQ(DisplayFormat::relative(now.adding(-90), now, german), "vor 1 Minute");
}

TEST(RelativeTimestamp, RewordedOnTicksAndOnLocaleChangesOnlyAndNeverAheadOfAMomentPast) {
    ManualClock clock(Date{700'000'000});
    RelativeTimestamp label(clock.now().adding(-90), clock);
    label.setLocale(english);
    clock.advance(45);
    EXPECT_EQ(label.text(), "1 minute ago");  // between ticks
    label.tick();
    EXPECT_EQ(label.text(), "2 minutes ago");
    clock.advance(60);
    label.setLocale(german);  // the same tick, in German
    EXPECT_EQ(label.text(), "vor 2 Minuten");
    auto* timer = label.findChild<QTimer*>();
    EXPECT_FALSE(timer->isActive());
    label.show();  // a new tick, then one on a timer while shown
    EXPECT_EQ(label.text(), "vor 3 Minuten");
    EXPECT_TRUE(timer->isActive());
    label.hide();
    EXPECT_FALSE(timer->isActive());
    // The words stay those of the last tick, but a moment already past when shown never reads as future.
    SCOPED_TRACE("AMomentPastWhenShownNeverReadsAsFuture");
    const Date tick = clock.now();  // of the tick on showing
    label.setLocale(english);
    for (const double ended : {15.0, 17.0, 29.9}) {
        SCOPED_TRACE(ended);
        clock.set(tick.adding(ended + 0.5));
        label.setDate(tick.adding(ended));
        EXPECT_EQ(label.text(), "now");
    }
    clock.set(tick.adding(30));
    label.setDate(tick.adding(30));
    EXPECT_EQ(label.text(), "now") << "ended at the next tick's moment";
    label.setDate(tick.adding(-20));
    EXPECT_EQ(label.text(), QStringLiteral("20 seconds ago")) << "from the tick, as before";
    label.setDate(tick.adding(300));
    EXPECT_EQ(label.text(), QStringLiteral("in 5 minutes")) << "a moment still ahead stays ahead";
    label.tick();
    label.setDate(tick.adding(29.9));
    EXPECT_EQ(label.text(), "now");
    clock.advance(45);
    label.tick();
    EXPECT_EQ(label.text(), QStringLiteral("45 seconds ago"));
    EXPECT_EQ(DisplayFormat::relative(tick.adding(5), tick, tick.adding(5), german), QStringLiteral("jetzt"));
}

}  // namespace
}  // namespace kelto
