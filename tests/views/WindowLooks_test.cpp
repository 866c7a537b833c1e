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
#include "Kelto_Sync/internal/NameField.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QVBoxLayout>

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

TEST(WindowLooks, TheSmallBusyIndicatorTurns) {
    ProgressPanel panel(SyncStrings::application());
    SyncProgress resolving;
    resolving.phase = SyncPhase::resolving;
    panel.setProgress(resolving);
    panel.resize(300, 120);
    panel.show();
    auto* busy = panel.findChild<BusyIndicator*>(QStringLiteral("busy"));
    EXPECT_TRUE(busy->isVisible() && busy->isTurning());
    const int first = busy->step();
    const QImage before = busy->grab().toImage();
    QTRY_VERIFY(busy->step() != first);
    EXPECT_NE(busy->grab().toImage(), before) << "another turn, another picture";
    RunStatusView status(RunStatus::running(resolving), SyncStrings{});
    status.show();
    auto* spinner = status.findChild<BusyIndicator*>(QStringLiteral("runStatusSpinner"));
    EXPECT_TRUE(spinner->isTurning());
    status.setStatus(RunStatus::queued());
    EXPECT_FALSE(spinner->isTurning()) << "hidden, it rests";
}

// The determinate bar is a thin line in the panel's tint, its empty part faint: not a block in the colour of an error.
TEST(WindowLooks, TheProgressBarIsAThinLineInThePanelsTint) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* panel = new ProgressPanel(SyncStrings::application());
    layout->addWidget(panel);
    SyncProgress copying;
    copying.phase = SyncPhase::transferring;
    copying.fraction = 0.5;
    panel->setProgress(copying);
    window.resize(400, 200);
    window.show();
    WidgetRender::settle(window);
    auto* bar = panel->findChild<QProgressBar*>(QStringLiteral("bar"));
    EXPECT_EQ(bar->height(), LinearProgressBar::thickness);
    EXPECT_FALSE(panel->findChild<BusyIndicator*>(QStringLiteral("busy"))->isVisible());
    const QImage image = bar->grab().toImage();
    const QColor done = image.pixelColor(bar->width() / 4, bar->height() / 2);
    const QColor left = image.pixelColor(bar->width() * 3 / 4, bar->height() / 2);
    EXPECT_EQ(done.rgb(), FenraTheme::destructive().color(bar->palette()).rgb());
    EXPECT_NE(left.rgb(), done.rgb());
    RunStatusView status(RunStatus::running(copying), SyncStrings{});
    status.resize(200, 18);
    status.show();
    EXPECT_EQ(status.findChild<QProgressBar*>(QStringLiteral("runStatusBar"))->height(), LinearProgressBar::thickness);
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

// Locked while its job runs, the name field takes no keys and is drawn on the window's colour, its text as a label.
TEST(WindowLooks, ALockedNameFieldLooksLockedAndReadsAsALabel) {
    QWidget window;
    window.setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(&window);
    auto* field = new NameField;
    field->setFrame(false);
    field->setFont(FenraFont::font(FontRole::title2));
    field->setText(QStringLiteral("Photos"));
    layout->addWidget(field);
    window.resize(300, 80);
    window.show();
    WidgetRender::settle(window);
    const QImage open = field->grab().toImage();
    field->setEnabled(false);
    QTest::keyClicks(field, QStringLiteral("xyz"));
    EXPECT_EQ(field->text(), QStringLiteral("Photos"));
    EXPECT_FALSE(field->hasFocus());
    const QImage locked = field->grab().toImage();
    const QPoint empty(field->width() - 4, field->height() / 2);
    EXPECT_EQ(locked.pixelColor(empty).rgb(), window.palette().color(QPalette::Window).rgb())
        << "the field steps back into the window";
    EXPECT_NE(open.pixelColor(empty).rgb(), locked.pixelColor(empty).rgb()) << "unlike the field that takes keys";
    EXPECT_EQ(field->palette().color(QPalette::Disabled, QPalette::Text),
              window.palette().color(QPalette::Active, QPalette::WindowText));
}

}  // namespace
}  // namespace kelto
