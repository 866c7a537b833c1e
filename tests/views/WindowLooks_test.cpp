// How the windows' parts look and size themselves, the progress panel's rows, and the render fixtures they are
// checked with (palettes that tell disabled controls apart, layouts that have settled).
#include "FenraCore/BusyIndicator.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/LinearProgressBar.h"
#include "FenraCore/WindowPlacement.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/ProgressPanel.h"
#include "Kelto_Sync/Settings/UpdateWindow.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"
#include "Kelto_Sync/Status/RunStatusView.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QLayout>
#include <QProgressBar>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

namespace kelto {
namespace {

int pixels(const QFont& font) { return QFontInfo(font).pixelSize(); }

TEST(WindowLooks, StatusCaptionsAndEditorNotesAreInTheCaptionFont) {
    const int caption = pixels(FenraFont::font(FontRole::caption));
    ASSERT_LT(caption, pixels(QApplication::font()));
    RunStatusView running(RunStatus::queued(), SyncStrings{});
    running.setLocale(english);
    EXPECT_EQ(pixels(labelWith(running, QStringLiteral("Queued"))->font()), caption);
    struct Case { bool enabled; std::optional<RunOutcome> outcome; QString text; };
    for (const Case& c : {Case{true, RunOutcome::success(), "Success"}, Case{true, std::nullopt, "Never run"},
                          Case{false, std::nullopt, "Paused"}}) {
        JobStatusSlot slot(std::nullopt, c.enabled, c.outcome, SyncStrings{});
        slot.setLocale(english);
        const QLabel* shown = labelWith(slot, c.text);
        ASSERT_NE(shown, nullptr) << c.text.toStdString();
        EXPECT_EQ(pixels(shown->font()), caption) << c.text.toStdString();
    }
    SimpleWhenSection when(SyncStrings{}, [](const SyncJob&) {});
    SyncJob job;
    job.triggers = {Trigger::weekly({}, TimeOfDay{9, 0})};
    when.setJob(job);
    for (const char* note : {"Sync now is always available.", "Choose at least one weekday."}) {
        const QLabel* shown = labelWith(when, QString::fromUtf8(note));
        ASSERT_NE(shown, nullptr) << note;
        EXPECT_EQ(pixels(shown->font()), caption) << note;
    }
}

// The small busy indicator turns while nothing can be counted; the determinate bar is a thin line in the panel's
// tint, its empty part faint: not a block in the colour of an error.
TEST(WindowLooks, TheSmallBusyIndicatorTurnsAndTheBarIsAThinLineInThePanelsTint) {
    QWidget window;
    auto* panel = new ProgressPanel(SyncStrings::application());
    (new QVBoxLayout(&window))->addWidget(panel);
    SyncProgress resolving;
    resolving.phase = SyncPhase::resolving;
    panel->setProgress(resolving);
    window.resize(400, 200);
    window.show();
    auto* busy = child<BusyIndicator>(*panel, "busy");
    EXPECT_TRUE(busy->isVisible() && busy->isTurning());
    const int first = busy->step();
    const QImage before = busy->grab().toImage();
    QTRY_VERIFY(busy->step() != first);
    EXPECT_NE(busy->grab().toImage(), before) << "another turn, another picture";
    RunStatusView status(RunStatus::running(resolving), SyncStrings{});
    status.resize(200, 18);
    status.show();
    auto* spinner = child<BusyIndicator>(status, "runStatusSpinner");
    EXPECT_TRUE(spinner->isTurning());
    status.setStatus(RunStatus::queued());
    EXPECT_FALSE(spinner->isTurning()) << "hidden, it rests";
    SCOPED_TRACE("TheProgressBarIsAThinLineInThePanelsTint");
    SyncProgress copying;
    copying.phase = SyncPhase::transferring;
    copying.fraction = 0.5;
    panel->setProgress(copying);
    WidgetRender::settle(window);
    auto* bar = child<QProgressBar>(*panel, "bar");
    EXPECT_EQ(bar->height(), LinearProgressBar::thickness);
    EXPECT_FALSE(busy->isVisible());
    const QImage image = bar->grab().toImage();
    const QColor done = image.pixelColor(bar->width() / 4, bar->height() / 2);
    const QColor left = image.pixelColor(bar->width() * 3 / 4, bar->height() / 2);
    EXPECT_EQ(done.rgb(), FenraTheme::destructive().color(bar->palette()).rgb());
    EXPECT_NE(left.rgb(), done.rgb());
    status.setStatus(RunStatus::running(copying));
    EXPECT_EQ(child<QProgressBar>(status, "runStatusBar")->height(), LinearProgressBar::thickness);
}

// Whatever sizes the box afresh (a new text, a fixed size, a layout request), it stays as wide as its title and texts.
TEST(WindowLooks, AnAlertStaysWideEnoughForItsTitleAndTexts) {
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
    AlertBox quit;
    quit.setTitle(QStringLiteral("Quit while syncing?"));
    quit.setMessage(QStringLiteral("Active transfers will be cancelled before Kelto Sync quits."));
    quit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&quit));
    QEvent request(QEvent::LayoutRequest);
    QCoreApplication::sendEvent(&quit, &request);
    EXPECT_GE(quit.width(), QFontMetrics(quit.font()).horizontalAdvance(quit.informativeText()) + 2 * metrics.height());
}

TEST(WindowLooks, SheetsAlertsAndFixedWindowsAreDialogs) {
    QWidget owner;
    owner.resize(700, 560);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    auto* sheet = new PreviewSheet(SyncPlan{}, std::nullopt, SyncStrings{}, {}, [] {}, &owner);
    WindowPlacement::openSheet(*sheet);
    auto* alert = new AlertBox(&owner);
    alert->setTitle(QStringLiteral("Quit while syncing?"));
    alert->present();
    auto* plain = new QDialog(&owner);
    WindowPlacement::openSheet(*plain);
    UpdateWindow update(UpdateCheckResult{});
    update.show();
    for (QWidget* window : std::initializer_list<QWidget*>{sheet, alert, plain, &update}) {
        SCOPED_TRACE(window->metaObject()->className());
        EXPECT_EQ(window->windowType(), Qt::Dialog);
        EXPECT_EQ(window->windowFlags() & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
                  Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
    }
    EXPECT_EQ(alert->minimumSize(), alert->maximumSize()) << "an alert is of fixed size";
}

SyncProgress transfer(std::optional<double> rate, std::optional<double> eta) {
    SyncProgress progress;
    progress.phase = SyncPhase::transferring;
    progress.fraction = 0.5;
    progress.bytesDone = 1'500'000;
    progress.bytesTotal = 3'000'000;
    progress.filesDone = 12;
    progress.filesTotal = 40;
    progress.bytesPerSecond = rate;
    progress.eta = eta;
    progress.currentPath = "Photos/2024/IMG_0001.JPG";
    return progress;
}

TEST(ProgressPanel, RowsFollowThePhaseAndTheFraction) {
    ProgressPanel panel(SyncStrings::application());
    panel.setLocale(english);
    const auto* bar = panel.findChild<QProgressBar*>(QStringLiteral("bar"));
    for (std::size_t i = 0; i < EnumNames<SyncPhase>::names.size(); ++i) {
        for (const std::optional<double>& fraction : {std::optional<double>(), std::optional<double>(0.25)}) {
            SyncProgress progress;
            progress.phase = static_cast<SyncPhase>(i);
            progress.fraction = fraction;
            progress.scannedItems = 1234;
            panel.setProgress(progress);
            const bool transferring = progress.phase == SyncPhase::transferring;
            SCOPED_TRACE(std::string(enumName(progress.phase)) + (fraction ? " with a fraction" : ""));
            EXPECT_EQ(textOf(panel, "phase"), SyncStrings::application().computed("phase.", progress.phase, english));
            EXPECT_EQ(shown(panel, "percent"), transferring && fraction);
            EXPECT_EQ(bar->maximum() > 0, transferring && fraction);  // else a small busy bar
            EXPECT_EQ(shown(panel, "scanned"), progress.phase == SyncPhase::scanning && !fraction);
            EXPECT_EQ(shown(panel, "figures") && shown(panel, "files"), transferring);
            EXPECT_FALSE(shown(panel, "currentPath") || shown(panel, "stop"));
        }
    }
    SyncProgress scanning;
    scanning.phase = SyncPhase::scanning;
    scanning.scannedItems = 1234;
    scanning.currentPath = "a/b";
    panel.setProgress(scanning);
    EXPECT_EQ(textOf(panel, "scanned"), QStringLiteral("Scanned 1234 items"));
    EXPECT_TRUE(shown(panel, "currentPath"));
}

TEST(ProgressPanel, ATransferShowsItsFiguresAndStopsOnce) {
    int stops = 0;
    ProgressPanel panel(SyncStrings::application(), [&stops] { ++stops; });
    panel.setLocale(english);
    panel.setProgress(transfer(1536.9, 59.99));
    const auto* bar = panel.findChild<QProgressBar*>(QStringLiteral("bar"));
    EXPECT_EQ(bar->value() * 2, bar->maximum());
    EXPECT_EQ(textOf(panel, "eta"), QStringLiteral("ETA 59 s"));
    EXPECT_EQ(textOf(panel, "files"), QStringLiteral("Files: 12 of 40"));
    panel.setProgress(transfer(999.9, 0.5));
    EXPECT_EQ(textOf(panel, "rate"), QStringLiteral("999 bytes/s"));  // truncated, not rounded
    EXPECT_EQ(textOf(panel, "eta"), QStringLiteral("ETA 0 s"));
    panel.show();
    click(panel, "stop");
    EXPECT_EQ(stops, 1);
    // A rate or time left without a whole 64-bit value is left out.
    const double nan = std::numeric_limits<double>::quiet_NaN(), infinity = std::numeric_limits<double>::infinity();
    for (const auto& [value, kept] : std::vector<std::pair<double, bool>>{{nan, false}, {1e300, false},
                                                                           {-1e300, false}, {infinity, false},
                                                                           {9223372036854775808.0, false}, {9.0e18, true}}) {
        panel.setProgress(transfer(value, value));
        EXPECT_EQ(shown(panel, "rate"), kept) << value;
        EXPECT_EQ(shown(panel, "eta"), kept) << value;
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
