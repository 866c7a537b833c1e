#include "Kelto_Sync/Status/MenuBarIconRule.h"
#include "Kelto_Sync/Status/TrayIconImage.h"
#include "FenraCore/FenraStyle.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/main/MainFixtures.h"
#include <QGuiApplication>
#include <QSignalSpy>
#include <cmath>

namespace kelto {
namespace {

TEST(MenuBarIconRuleTest, FirstMatchingRuleGivesTheState) {
    SyncJob enabled = sampleJob(), paused = sampleJob();
    paused.isEnabled = false;
    const Uuid other = Uuid::random();
    using Records = AppModelInterface::RecordMap;
    const auto last = [](const SyncJob& job, RunOutcome outcome) { return Records{{job.id, record(job, 0, outcome)}}; };
    struct Case {
        const char* name;
        std::vector<SyncJob> jobs;
        AppModelInterface::StatusMap statuses;
        Records records;
        bool hasError;
        MenuBarIconState expected;
    };
    const MenuBarIconState attention = MenuBarIconState::attention(), idle = MenuBarIconState::idle();
    const auto at = [](double fraction) { return MenuBarIconState::progress(fraction); };
    const std::vector<Case> cases = {
        {"error though all paused", {paused}, {}, {}, true, attention},
        {"review beats a run", {enabled, paused},
         {{enabled.id, running(SyncPhase::transferring, 0.4)}, {paused.id, RunStatus::awaitingConfirmation({})}}, {},
         false, attention},
        {"failed", {enabled}, {}, last(enabled, RunOutcome::failed("disk")), false, attention},
        {"errors", {enabled}, {}, last(enabled, RunOutcome::completedWithErrors()), false, attention},
        {"interrupted, of a job not listed", {}, {}, last(paused, RunOutcome::interrupted()), false, attention},
        {"cancelled", {enabled}, {}, last(enabled, RunOutcome::cancelled()), false, idle},
        {"skipped", {enabled}, {}, last(enabled, RunOutcome::skipped(SkipReason::deviceNotConnected)), false, idle},
        {"warnings and review", {enabled}, {}, last(enabled, RunOutcome::needsReview("x")), false, idle},
        {"scanning", {enabled}, {{enabled.id, running(SyncPhase::scanning, std::nullopt)}}, {}, false, at(0)},
        {"transferring", {enabled}, {{enabled.id, running(SyncPhase::transferring, 0.4)}}, {}, false, at(0.4)},
        {"planning with a fraction", {enabled}, {{enabled.id, running(SyncPhase::planning, 0.1)}}, {}, false, at(0.1)},
        {"queued and a run", {enabled, paused},
         {{other, RunStatus::queued()}, {enabled.id, running(SyncPhase::transferring, 0.7)}}, {}, false, at(0.7)},
        {"only queued", {paused}, {{paused.id, RunStatus::queued()}}, {}, false, at(0)},
        {"no jobs", {}, {}, {}, false, idle},
        {"all paused", {paused, paused}, {}, {}, false, MenuBarIconState::paused()},
        {"one enabled", {paused, enabled}, {}, {}, false, idle},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MenuBarIconRule::state(c.jobs, c.statuses, c.records, c.hasError), c.expected) << c.name;
}

// The colour of the icon's opaque pixels.
QColor ink(const TrayIconImage& tray) {
    const QImage image = tray.icon().pixmap(QSize(44, 44)).toImage();
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).alpha() == 255) return image.pixelColor(x, y);
    }
    return {};
}

TEST(TrayIconImageTest, FollowsTheModelAndMakesANewIconOnlyWhenTheDrawingChanges) {
    FakeAppModel fake;
    AppModelAdapter model(fake);
    TrayIconImage tray;
    QSignalSpy changed(&tray, &TrayIconImage::iconChanged);
    SyncJob job = sampleJob();
    fake.setJobs({job});
    tray.follow(model);
    fake.setStatus(job.id, running(SyncPhase::transferring, 0.401));
    EXPECT_EQ(tray.drawnState(), MenuBarIconState::progress(0.4));
    EXPECT_EQ(changed.count(), 1);
    // Still 40 percent, and a model change that does not touch the state.
    fake.setStatus(job.id, running(SyncPhase::transferring, 0.404));
    fake.setJobs({job});
    EXPECT_EQ(changed.count(), 1);
    fake.setStatus(job.id, running(SyncPhase::transferring, 0.41));
    EXPECT_EQ(changed.count(), 2);
    fake.setErrorMessage("broken");
    EXPECT_EQ(changed.count(), 3);
    // Not a number and out of range are drawn as the ends of the bar.
    EXPECT_EQ(TrayIconImage::drawable(MenuBarIconState::progress(std::nan(""))), MenuBarIconState::progress(0));
    EXPECT_EQ(TrayIconImage::drawable(MenuBarIconState::progress(1.7)), MenuBarIconState::progress(1));
    // The colour comes from the palette: dark panels get light ink.
    tray.setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(ink(tray), WidgetRender::darkPalette().color(QPalette::WindowText));
    tray.setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(changed.count(), 4);
}

// The icon is drawn for the panel in the desktop's look, whatever the application's windows show, in either order.
TEST(TrayIconImageTest, TheDesktopsLookDecidesTheInkNeverTheApplicationsOwn) {
    const QPalette before = QGuiApplication::palette();
    FakeAppModel fake;
    AppModelAdapter model(fake);
    const QColor darkInk = FenraStyle::palette(ColorScheme::light).color(QPalette::WindowText);
    const QColor lightInk = FenraStyle::palette(ColorScheme::dark).color(QPalette::WindowText);
    QGuiApplication::setPalette(WidgetRender::darkPalette());
    TrayIconImage schemeFirst, schemeLast;
    schemeFirst.setScheme(ColorScheme::light);
    schemeFirst.follow(model);
    schemeLast.follow(model);
    schemeLast.setScheme(ColorScheme::light);
    EXPECT_TRUE(ink(schemeFirst) == darkInk && ink(schemeLast) == darkInk);
    QSignalSpy changed(&schemeFirst, &TrayIconImage::iconChanged);
    QGuiApplication::setPalette(WidgetRender::lightPalette());
    QGuiApplication::setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(changed.count(), 0) << "the application's look is not the panel's";
    EXPECT_EQ(ink(schemeFirst), darkInk);
    schemeFirst.setScheme(ColorScheme::dark);
    EXPECT_EQ(ink(schemeFirst), lightInk);
    QGuiApplication::setPalette(before);
}

}  // namespace
}  // namespace kelto
