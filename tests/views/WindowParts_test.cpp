#include "FenraCore/BusyIndicator.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/LinearProgressBar.h"
#include "FenraCore/WindowPlacement.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/ProgressPanel.h"
#include "Kelto_Sync/RelativeTimestamp.h"
#include "Kelto_Sync/Settings/UpdateWindow.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <cmath>
#include <limits>
#include <QFile>
#include <QLayout>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

namespace kelto {
namespace {

// Whatever sizes the box afresh (a new text, a fixed size, a layout request), it stays as wide as its title and texts.
TEST(WindowLooks, AnAlertStaysWideEnoughForItsTextsAndSheetsAlertsAndFixedWindowsAreDialogs) {
    AlertBox alert;
    alert.setTitle(QStringLiteral("Sync skipped"));
    alert.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    alert.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&alert));
    alert.setWindowTitle(QStringLiteral("Mail Archive of the Household"));
    alert.setMessage(QStringLiteral("Device not connected"));
    const QFontMetrics metrics(alert.font());
    const int wanted = metrics.horizontalAdvance(alert.windowTitle()) + 6 * metrics.height();
    EXPECT_GE(alert.width(), wanted);
    // What the message box does on such a change: it fixes its own, narrower size.
    alert.setFixedSize(184, alert.height());
    EXPECT_GE(alert.width(), wanted);
    EXPECT_GE(alert.width(), metrics.horizontalAdvance(alert.informativeText()) + 2 * metrics.height());
    // A short message sits on one line, whatever its script.
    const QString messages[] = {QStringLiteral("Active transfers will be cancelled before Kelto Sync quits."),
                                QStringLiteral("C\u00e1c l\u01b0\u1ee3t truy\u1ec1n \u0111ang ch\u1ea1y s\u1ebd "
                                               "b\u1ecb h\u1ee7y tr\u01b0\u1edbc khi Kelto Sync tho\u00e1t.")};
    for (const QString& message : messages) {
        AlertBox quit;
        quit.setLocale(QLocale(QStringLiteral("vi_VN")));
        quit.setTitle(QStringLiteral("Quit while syncing?"));
        quit.setMessage(message);
        quit.addButton(QMessageBox::Cancel);
        quit.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&quit));
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(&quit, &request);
        EXPECT_GE(quit.width(), QFontMetrics(quit.font()).horizontalAdvance(message) + 2 * metrics.height());
        const QLabel* label = labelWith(quit, message);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->heightForWidth(label->width()), label->heightForWidth(10000)) << "wrapped";
    }
    SCOPED_TRACE("SheetsAlertsAndFixedWindowsAreDialogs");
    QWidget owner;
    owner.resize(700, 560);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    auto* sheet = new PreviewSheet(SyncPlan{}, std::nullopt, SyncStrings{}, {}, [] {}, &owner);
    WindowPlacement::openSheet(*sheet);
    auto* owned = new AlertBox(&owner);
    owned->setTitle(QStringLiteral("Quit while syncing?"));
    owned->present();
    auto* plain = new QDialog(&owner);
    WindowPlacement::openSheet(*plain);
    UpdateWindow update(UpdateCheckResult{});
    update.show();
    for (QWidget* window : std::initializer_list<QWidget*>{sheet, owned, plain, &update}) {
        SCOPED_TRACE(window->metaObject()->className());
        EXPECT_EQ(window->windowType(), Qt::Dialog);
        EXPECT_EQ(window->windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
                  Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
    }
    EXPECT_EQ(owned->minimumSize(), owned->maximumSize()) << "an alert is of fixed size";
}

SyncProgress transfer(std::optional<double> rate, std::optional<double> eta) {
    SyncProgress progress = progressIn(SyncPhase::transferring, 0.5);
    progress.bytesDone = 1'500'000;
    progress.bytesTotal = 3'000'000;
    progress.filesDone = 12;
    progress.filesTotal = 40;
    progress.bytesPerSecond = rate;
    progress.eta = eta;
    progress.currentPath = "Photos/2024/IMG_0001.JPG";
    return progress;
}

TEST(ProgressPanel, RowsFollowThePhaseAndTheFractionAndATransferShowsItsFiguresAndStopsOnce) {
    int stops = 0;
    ProgressPanel panel(SyncStrings::application(), [&stops] { ++stops; });
    panel.setLocale(english);
    auto* bar = panel.findChild<QProgressBar*>(QStringLiteral("bar"));
    for (std::size_t i = 0; i < EnumNames<SyncPhase>::names.size(); ++i) {
        for (const std::optional<double>& fraction : {std::optional<double>(), std::optional<double>(0.25)}) {
            SyncProgress progress = progressIn(static_cast<SyncPhase>(i), fraction);
            progress.scannedItems = 1234;
            panel.setProgress(progress);
            const bool transferring = progress.phase == SyncPhase::transferring;
            SCOPED_TRACE(std::string(enumName(progress.phase)) + (fraction ? " with a fraction" : ""));
            EXPECT_EQ(textOf(panel, "phase"), SyncStrings::application().computed("phase.", progress.phase, english));
            EXPECT_EQ(shown(panel, "percent"), transferring && fraction);
            EXPECT_EQ(bar->maximum() > 0, transferring && fraction);  // else a small busy bar
            EXPECT_EQ(shown(panel, "scanned"), progress.phase == SyncPhase::scanning && !fraction);
            EXPECT_EQ(shown(panel, "figures") && shown(panel, "files"), transferring);
            EXPECT_FALSE(shown(panel, "currentPath"));
        }
    }
    SyncProgress scanning = progressIn(SyncPhase::scanning);
    scanning.scannedItems = 1234;
    scanning.currentPath = "a/b";
    panel.setProgress(scanning);
    EXPECT_EQ(textOf(panel, "scanned"), QStringLiteral("Scanned 1234 items"));
    EXPECT_TRUE(shown(panel, "currentPath"));
    SCOPED_TRACE("ATransferShowsItsFiguresAndStopsOnce");
    panel.setProgress(transfer(1536.9, 59.99));
    EXPECT_EQ(bar->value() * 2, bar->maximum());
    EXPECT_EQ(textOf(panel, "eta"), QStringLiteral("ETA 59 s"));
    EXPECT_EQ(textOf(panel, "files"), QStringLiteral("Files: 12 of 40"));
    panel.setProgress(transfer(999.9, 0.5));
    EXPECT_EQ(textOf(panel, "rate"), QStringLiteral("999 bytes/s"));  // truncated, not rounded
    EXPECT_EQ(textOf(panel, "eta"), QStringLiteral("ETA 0 s"));
    panel.show();
    click(panel, "stop");
    EXPECT_EQ(stops, 1);
    SCOPED_TRACE("TheSmallBusyIndicatorTurnsAndTheBarIsAThinLineInThePanelsTint");
    panel.setProgress(progressIn(SyncPhase::resolving));
    auto* busy = child<BusyIndicator>(panel, "busy");
    EXPECT_TRUE(busy->isVisible() && busy->isTurning());
    const int first = busy->step();
    const QImage before = busy->grab().toImage();
    QTRY_VERIFY(busy->step() != first);
    EXPECT_NE(busy->grab().toImage(), before) << "another turn, another picture";
    // The bar is a thin line in the panel's tint, its empty part faint: not a block in the colour of an error.
    panel.setProgress(progressIn(SyncPhase::transferring, 0.5));
    WidgetRender::settle(panel);
    EXPECT_EQ(bar->height(), LinearProgressBar::thickness);
    EXPECT_FALSE(busy->isVisible());
    const QImage image = bar->grab().toImage();
    const QColor done = image.pixelColor(bar->width() / 4, bar->height() / 2);
    const QColor left = image.pixelColor(bar->width() * 3 / 4, bar->height() / 2);
    EXPECT_EQ(done.rgb(), FenraTheme::destructive().color(bar->palette()).rgb());
    EXPECT_NE(left.rgb(), done.rgb());
    // A rate or time left without a whole 64-bit value is left out.
    const double nan = std::numeric_limits<double>::quiet_NaN(), infinity = std::numeric_limits<double>::infinity();
    for (const auto& [value, kept] : std::vector<std::pair<double, bool>>{{nan, false}, {1e300, false},
                                                                           {-1e300, false}, {infinity, false},
                                                                           {9223372036854775808.0, false}, {9.0e18, true}}) {
        panel.setProgress(transfer(value, value));
        EXPECT_EQ(std::pair(shown(panel, "rate"), shown(panel, "eta")), std::pair(kept, kept)) << value;
        EXPECT_TRUE(shown(panel, "bytes") && shown(panel, "files"));
    }
    panel.setProgress(transfer(std::nullopt, std::nullopt));
    EXPECT_FALSE(shown(panel, "rate") || shown(panel, "eta"));
    SCOPED_TRACE("FiguresShareALineWhenTheyFitAndTheLongPathKeepsBothEnds");
    SyncProgress progress = transfer(3'400'000, 42);
    const std::string path = "Projects/" + std::string(300, 'x') + "/final-cut.mov";
    progress.currentPath = path;
    panel.setProgress(progress);
    const auto* bytes = child<QLabel>(panel, "bytes");
    const auto* rate = child<QLabel>(panel, "rate");
    const auto* eta = child<QLabel>(panel, "eta");
    const auto* current = child<QLabel>(panel, "currentPath");
    panel.resize(600, 200);
    panel.layout()->activate();
    EXPECT_EQ(rate->geometry().center().y(), bytes->geometry().center().y());
    EXPECT_EQ(eta->geometry().right(), child(panel, "figures")->width() - 1);
    EXPECT_LE(current->width(), 600);
    EXPECT_TRUE(current->text().startsWith("Projects/") && current->text().endsWith("/final-cut.mov") &&
                current->text().contains(QChar(0x2026))) << current->text().toStdString();
    EXPECT_EQ(current->toolTip(), QString::fromStdString(path));
    panel.resize(bytes->sizeHint().width() + 4, 200);
    panel.layout()->activate();
    EXPECT_GT(rate->y(), bytes->geometry().bottom());
    EXPECT_EQ(rate->x(), bytes->x());
    EXPECT_EQ(eta->geometry().center().y(), rate->geometry().center().y());
}

struct Counts {
    int toB = 0, toA = 0, onA = 0, onB = 0, skipped = 0, conflicts = 0;
    std::int64_t entriesA = 0, entriesB = 0;
};

// Copies and archives alternate between the sides, so each side's list keeps only its own, in order.
SyncPlan planOf(const Counts& counts) {
    SyncPlan plan;
    for (int i = 0; i < std::max(counts.toB, counts.toA); ++i) {
        if (i < counts.toB) plan.copies.push_back({"b/" + std::to_string(i), 10, Side::b});
        if (i < counts.toA) plan.copies.push_back({"a/" + std::to_string(i), 10, Side::a});
    }
    for (int i = 0; i < std::max(counts.onA, counts.onB); ++i) {
        if (i < counts.onB) plan.archives.push_back({"gone-b/" + std::to_string(i), Side::b});
        if (i < counts.onA) plan.archives.push_back({"gone-a/" + std::to_string(i), Side::a});
    }
    for (int i = 0; i < counts.skipped; ++i)
        plan.skipped.push_back({"big/" + std::to_string(i), i % 2 ? FileSkipReason::caseCollision
                                                                  : FileSkipReason::tooLargeForFAT});
    for (int i = 0; i < counts.conflicts; ++i) plan.conflicts.push_back("both/" + std::to_string(i));
    plan.entryCountA = counts.entriesA;
    plan.entryCountB = counts.entriesB;
    return plan;
}

class Sheet {
public:
    explicit Sheet(const SyncPlan& plan, bool review = true, std::optional<QString> reason = std::nullopt)
        : sheet(plan, std::move(reason), SyncStrings::application(),
                review ? std::function<void()>([this] { ++continued; }) : std::function<void()>(),
                [this] { ++cancelled; }, nullptr, &timers) {
        sheet.setLocale(english);
    }
    void read() { QCoreApplication::processEvents(), timers.advance(PreviewSheet::readingSeconds); }
    QString text(const char* name) const { return textOf(sheet, name); }
    QPushButton* button(const char* name) const { return kelto::button(sheet, name); }
    QTreeView* details() const { return sheet.findChild<QTreeView*>(QStringLiteral("details")); }
    QToolButton* toggle() const { return sheet.findChild<QToolButton*>(QStringLiteral("detailsToggle")); }
    // A section's title and count, then its rows ("path" or "path | reason").
    QStringList section(int number) const {
        const QAbstractItemModel* model = details()->model();
        const QModelIndex header = model->index(number, 0);
        QStringList lines{header.data().toString() + QStringLiteral(" ") + model->index(number, 1).data().toString()};
        for (int row = 0; row < model->rowCount(header); ++row) {
            const QString reason = model->index(row, 1, header).data().toString();
            lines.append(model->index(row, 0, header).data().toString() +
                         (reason.isEmpty() ? QString() : QStringLiteral(" | ") + reason));
        }
        return lines;
    }
    int continued = 0, cancelled = 0;
    ManualClock clock;
    ManualExecutor timers{clock};
    PreviewSheet sheet;
};

// Shares of each side round halves away from zero.
// "Details" open and close inside the sheet, which keeps its size, the list filling its middle.
TEST(PreviewSheet, TitleReasonButtonsAndDetailsByActionAndReason) {
    for (const bool review : {true, false}) {
        for (const bool withReason : {true, false}) {
            SCOPED_TRACE(std::string(review ? "review" : "preview") + (withReason ? " with a reason" : ""));
            Sheet sheet(planOf({.toB = 2}), review,
                        withReason ? std::optional<QString>(QStringLiteral("40% of B would be archived")) : std::nullopt);
            sheet.sheet.show();
            EXPECT_EQ(sheet.text("reason"), withReason ? "40% of B would be archived" : "<none>");
            EXPECT_EQ(sheet.button("cancel") != nullptr && sheet.button("continue") != nullptr, review);
            EXPECT_EQ(sheet.button("close") != nullptr, !review);
            EXPECT_EQ(sheet.details()->isVisible(), review || withReason);
            // The user's toggle sticks, for that sheet only, in one look open or closed.
            const auto look = DrawnPanels::of(*sheet.toggle());
            sheet.toggle()->click();
            EXPECT_EQ(DrawnPanels::of(*sheet.toggle()), look);
            EXPECT_EQ(sheet.details()->isVisible(), !(review || withReason));
            EXPECT_EQ(sheet.sheet.detailsOverride(), !(review || withReason));
            if (!withReason) continue;
            SCOPED_TRACE("ItKeepsItsSizeWithTheDetailsListFillingItsMiddle");
            QApplication::processEvents();
            const QSize size = sheet.sheet.size();
            EXPECT_EQ(sheet.sheet.minimumSize(), sheet.sheet.maximumSize()) << "no resize handle along its bottom";
            const QMargins margins = sheet.sheet.layout()->contentsMargins();
            const int spacing = sheet.sheet.layout()->spacing();
            const auto top = [&](const QWidget* w) { return w->mapTo(&sheet.sheet, QPoint(0, 0)).y(); };
            const auto bottom = [&](const QWidget* w) { return top(w) + w->height(); };
            for (int pass = 0; pass < 2; ++pass) {
                sheet.toggle()->click();
                QApplication::processEvents();
                EXPECT_EQ(sheet.details()->isVisible(), pass == 0);
                EXPECT_EQ(sheet.sheet.size(), size) << "the list scrolls rather than the sheet growing";
                const auto* figures = child(sheet.sheet, "copiesFigure");
                const auto* list = child(sheet.sheet, "detailsList");
                const QPushButton* last = sheet.button(review ? "continue" : "close");
                EXPECT_LE(top(child(sheet.sheet, "title")), margins.top() + 2) << "the title at the top";
                EXPECT_GE(bottom(last), size.height() - margins.bottom() - 2) << "the buttons at the bottom";
                ASSERT_NE(list, nullptr);
                EXPECT_LE(top(list) - bottom(figures), spacing + 2) << "the list right under the counts";
                EXPECT_LE(top(last) - bottom(list), spacing + 2) << "and down to the buttons";
                EXPECT_EQ(sheet.toggle()->parentWidget(), list) << "the disclosure row heads the list";
            }
        }
    }
    EXPECT_EQ(Sheet(planOf({})).sheet.detailsOverride(), std::nullopt);
    SCOPED_TRACE("EveryRowInPlanOrderWithLocaleCountsBesidePlainFiguresAndRoundedShares");
    EXPECT_EQ(Sheet(planOf({.onA = 5, .onB = 1, .entriesA = 120, .entriesB = 3})).text("archivedFigure"),
              QStringLiteral("A: 5 (4%) \u00B7 B: 1 (33%)"));
    EXPECT_EQ(Sheet(planOf({.onA = 1, .entriesA = 8, .entriesB = 8})).text("archivedFigure"),
              "A: 1 (13%) \u00B7 B: 0 (0%)");
    EXPECT_EQ(Sheet(planOf({.onA = 3, .onB = 2, .entriesA = 2})).text("archivedFigure"), "A: 3 (150%) \u00B7 B: 2 (0%)");
    EXPECT_EQ(PreviewSheet::share(1, 200), 1);  // 0.5 %
    EXPECT_EQ(PreviewSheet::share(-1, 200), -1);
    Sheet sheet(planOf({.toB = 1234, .toA = 2, .onA = 1, .onB = 2, .skipped = 1234, .conflicts = 1,
                        .entriesA = 10, .entriesB = 10}),
                false);
    EXPECT_EQ(sheet.text("copiesFigure"), "1234 A\u2192B \u00B7 2 B\u2192A");
    EXPECT_EQ(sheet.text("skippedFigure"), "1,234");
    const QStringList toB = sheet.section(0);
    EXPECT_EQ(toB.size(), 1 + 1234);
    EXPECT_EQ(toB.front() + " " + toB.back(), "Copy A\u2192B 1,234 b/1233");
    EXPECT_EQ(sheet.section(1), (QStringList{"Copy B\u2192A 2", "a/0", "a/1"}));
    EXPECT_EQ(sheet.section(2), (QStringList{"Archive on A 1", "gone-a/0"}));
    EXPECT_EQ(sheet.section(3), (QStringList{"Archive on B 2", "gone-b/0", "gone-b/1"}));
    const QStringList skipped = sheet.section(4);
    EXPECT_EQ(skipped.size(), 1 + 1234);
    const SyncStrings strings = SyncStrings::application();
    EXPECT_EQ(skipped[1], "big/0 | " + strings.computed("fileSkip.", FileSkipReason::tooLargeForFAT, english));
    EXPECT_EQ(skipped[2], "big/1 | " + strings.computed("fileSkip.", FileSkipReason::caseCollision, english));
    EXPECT_EQ(sheet.section(5), (QStringList{"Conflicts 1", "both/0"}));
    sheet.sheet.setLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(sheet.section(4).front(), "Skipped 1.234");
    SCOPED_TRACE("ReturnContinuesOnceReadAndEscapeCancelsOncePerPressWithoutClosing");
    Sheet review(planOf({.toB = 2}));
    review.sheet.show();
    // Not yet read, it takes no Return, and reads afresh when its reason comes.
    QTest::keyClick(review.details(), Qt::Key_Return);
    EXPECT_EQ(review.continued, 0);
    review.read();
    review.sheet.setReason(QStringLiteral("Many files would be deleted."));
    QTest::keyClick(review.details(), Qt::Key_Return);
    EXPECT_EQ(review.continued, 0);
    review.read();
    QTest::keyClick(review.details(), Qt::Key_Return);
    EXPECT_EQ(std::pair(review.continued, review.cancelled), std::pair(1, 0));
    QTest::keyClick(review.details(), Qt::Key_Escape);
    EXPECT_EQ(std::pair(review.continued, review.cancelled), std::pair(1, 1));
    EXPECT_TRUE(review.sheet.isVisible());  // its owner closes it
    // A press whose release went elsewhere holds Return down only as long as a held key would repeat.
    SCOPED_TRACE("APressLongAfterOneWhoseReleaseWentElsewhereIsNew");
    for (const std::uint64_t at : {1000u, 1500u, 3000u}) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        press.setTimestamp(at);
        QApplication::sendEvent(review.details(), &press);
    }
    EXPECT_EQ(review.continued, 3);  // the one at 1500 repeats the first
    review.sheet.close();  // the owner dismissing it after an action is no cancel
    EXPECT_EQ(review.cancelled, 1);
    Sheet preview(planOf({.toB = 2}), false);
    preview.sheet.show();
    QTest::keyClick(&preview.sheet, Qt::Key_Return);
    EXPECT_EQ(preview.cancelled, 0);
    QTest::keyClick(&preview.sheet, Qt::Key_Escape);
    EXPECT_EQ(preview.cancelled, 1);
}

const QLocale german(QLocale::German, QLocale::Germany);

template <class E>
void expectEveryCaseWorded(const SyncStrings& strings, std::string_view prefix) {
    for (std::size_t i = 0; i < EnumNames<E>::names.size(); ++i) {
        const QString key = SyncStrings::computedKey(prefix, static_cast<E>(i));
        const QString text = strings.text(key, english);
        EXPECT_FALSE(text.isEmpty()) << key.toStdString();
        EXPECT_NE(text, key);
    }
}

TEST(SyncStrings, CountsTakeTheFormOfTheirNumberMissingKeysShowThemselvesAndTheWindowsSpeakAnOfferedLanguage) {
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
    SCOPED_TRACE("AKeyATableLacksShowsItselfAndTheShippedTableWordsEveryComputedKey");
    QTemporaryDir folder;
    QFile en(folder.filePath(QStringLiteral("en.json")));
    ASSERT_TRUE(en.open(QIODevice::WriteOnly));
    en.write(R"({"phase.queued": "Waiting", "%lld files copied": "Copied %lld files"})");
    en.close();
    const StringTable table(folder.path(), {QStringLiteral("en")});
    const SyncStrings tabled(table);
    EXPECT_EQ(tabled.computed("phase.", SyncPhase::queued, english), QStringLiteral("Waiting"));
    EXPECT_EQ(tabled.computed("phase.", SyncPhase::queued, german), QStringLiteral("Waiting"));
    EXPECT_EQ(tabled.computed("phase.", SyncPhase::scanning, english), QStringLiteral("phase.scanning"));
    EXPECT_EQ(tabled.computed("trigger.", RunTrigger::catchUp, german), QStringLiteral("trigger.catchUp"));
    EXPECT_EQ(tabled.format(QStringLiteral("%lld files copied"), {qlonglong(3)}, english), "Copied 3 files");
    EXPECT_EQ(SyncStrings().format("Next: when %@ is connected", {QStringLiteral("Backup")}, english),
              "Next: when Backup is connected");
    // The application's table words every computed key and names Linux places.
    expectEveryCaseWorded<SyncPhase>(strings, "phase.");
    expectEveryCaseWorded<FileSkipReason>(strings, "fileSkip.");
    expectEveryCaseWorded<RunTrigger>(strings, "trigger.");
    expectEveryCaseWorded<ValidationIssue>(strings, "validation.");
    expectEveryCaseWorded<ValidationWarning>(strings, "warning.");
    // The core builds the editor's keys itself; they must be the ones worded here.
    EXPECT_NE(strings.text(QString::fromStdString(localizationKey(ValidationIssue::nested)), english),
              QString::fromStdString(localizationKey(ValidationIssue::nested)));
    EXPECT_EQ(strings.text(QStringLiteral("Show in Finder"), english), "Show in File Manager");
    EXPECT_EQ(strings.text(QStringLiteral("Open in Finder"), german), "Open in File Manager");
    SCOPED_TRACE("TheWindowsSpeakALanguageTheApplicationOffers");
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
    SCOPED_TRACE("RelativeTimestamp.RewordedOnTicksAndLocaleChangesNeverAheadOfAMomentPastAndFormatsOfTheLocale");
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
    SCOPED_TRACE("DisplayFormatBytesPercentagesDatesAndRelativeTimesOfTheLocale");
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
    const Date then{700'000'000};
    EXPECT_EQ(DisplayFormat::relative(then.adding(-0.4), then, english), "now");
    EXPECT_EQ(DisplayFormat::relative(then.adding(-3 * 3600 - 59), then, english), "3 hours ago");
    EXPECT_EQ(DisplayFormat::relative(then.adding(-86400), then, english), "yesterday");
    EXPECT_EQ(DisplayFormat::relative(then.adding(-90), then, german), "vor 1 Minute");
}

// The renders other tests judge by must be truthful: disabled text dimmed, late rows laid out.
TEST(RenderFixtures, DisabledTextDiffersFromEnabledTextInEveryLook) {
    for (const auto& look : WidgetRender::looks()) {
        for (const QPalette& palette : {look.palette, WidgetRender::withWindowButtons(look.palette)}) {
            for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
                EXPECT_NE(palette.color(QPalette::Disabled, role), palette.color(QPalette::Active, role))
                    << look.name << " role " << role;
                EXPECT_EQ(palette.color(QPalette::Inactive, role), palette.color(QPalette::Active, role))
                    << look.name << " role " << role;
            }
        }
    }
}

TEST(RenderFixtures, ARowAddedToAShownLayoutIsInTheRender) {
    QWidget widget;
    auto* layout = new QVBoxLayout(&widget);
    layout->addWidget(new QLabel(QStringLiteral("first"), &widget));
    widget.resize(200, 200);
    widget.show();
    WidgetRender::image(widget);
    auto* added = new QLabel(QStringLiteral("added"));
    layout->addWidget(added);
    WidgetRender::image(widget);
    EXPECT_TRUE(added->isVisible());
    EXPECT_FALSE(added->geometry().isEmpty());
    EXPECT_TRUE(widget.rect().contains(added->geometry()));
}

}  // namespace
}  // namespace kelto
