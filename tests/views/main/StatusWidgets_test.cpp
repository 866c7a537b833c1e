// The run-status widgets of the job list and the tray's picture.
#include "FenraCore/Contrast.h"
#include "FenraCore/FenraStyle.h"
#include "FenraCore/FenraTheme.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"
#include "Kelto_Sync/Status/MenuBarIconRule.h"
#include "Kelto_Sync/Status/RunStatusView.h"
#include "Kelto_Sync/Status/TrayIconImage.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QGuiApplication>
#include <QProgressBar>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <cmath>
#include <filesystem>

namespace kelto {
namespace {

// A live run reaches the slot as the runner publishes it (queued, running
// from its first phase on, copying): it ends looking as a slot made for the copy.
TEST(JobStatusSlotTest, ALiveRunShowsItsPercentageLikeAFreshSlot) {
    const RunStatus copying = running(SyncPhase::transferring, 0.42);
    QWidget row;
    row.setFixedWidth(280);
    auto* column = new QVBoxLayout(&row);
    auto* live = new JobStatusSlot(std::nullopt, true, std::nullopt, SyncStrings{}, &row);
    auto* fresh = new JobStatusSlot(copying, true, std::nullopt, SyncStrings{}, &row);
    column->addWidget(live);
    column->addWidget(fresh);
    row.setLocale(english);
    row.show();
    for (const RunStatus& status : {RunStatus::queued(), RunStatus::running(SyncProgress{}),
                                    running(SyncPhase::scanning, std::nullopt), running(SyncPhase::transferring, 0.0),
                                    copying}) {
        live->setValues(status, true, std::nullopt);
        settle();
    }
    const auto* text = live->findChild<QLabel*>(QStringLiteral("runStatusText"));
    EXPECT_TRUE(text->isVisible() && text->text() == "42%");
    EXPECT_EQ(text->geometry(), fresh->findChild<QLabel*>(QStringLiteral("runStatusText"))->geometry());
    EXPECT_EQ(live->findChild<QProgressBar*>(QStringLiteral("runStatusBar"))->geometry(),
              fresh->findChild<QProgressBar*>(QStringLiteral("runStatusBar"))->geometry());
}

// The bar only while copying with a known total, its empty track standing out from the list in the dark; else the
// status text.
TEST(RunStatusViewTest, ABarWhileCopyingWithAKnownTotalElseTheStatusText) {
    QWidget list;
    list.setPalette(WidgetRender::darkPalette());
    list.setBackgroundRole(QPalette::Base);
    list.setAutoFillBackground(true);
    auto* row = new QVBoxLayout(&list);
    auto* view = new RunStatusView(running(SyncPhase::transferring, 0.25), SyncStrings{}, &list);
    row->addWidget(view);
    list.resize(260, 40);
    list.show();
    settle();
    const QImage image = list.grab().toImage();
    const auto* bar = child<QProgressBar>(*view, "runStatusBar");
    const QPoint empty = bar->mapTo(&list, QPoint(bar->width() * 3 / 4, bar->height() / 2));
    const auto rgb = [&](QPoint at) {
        const QColor c = image.pixelColor(at);
        return RGB(c.redF(), c.greenF(), c.blueF());
    };
    EXPECT_GT(Contrast::ratio(rgb(empty), rgb(QPoint(empty.x(), 1))), 1.5) << "the empty track in the dark";
    view->setLocale(english);
    EXPECT_TRUE(shown(*view, "runStatusBar") && !shown(*view, "runStatusSpinner"));
    EXPECT_EQ(textOf(*view, "runStatusText"), "25%");
    struct Case { RunStatus status; QString text; bool spinner; };
    for (const Case& c : {Case{running(SyncPhase::transferring, std::nullopt), "phase.transferring", true},
                          Case{running(SyncPhase::scanning, 0.5), "phase.scanning", true},
                          Case{RunStatus::awaitingConfirmation(SyncPlan{}), "Needs review", false},
                          Case{RunStatus::queued(), "Queued", false}}) {
        view->setStatus(c.status);
        EXPECT_EQ(textOf(*view, "runStatusText"), c.text);
        EXPECT_FALSE(shown(*view, "runStatusBar")) << c.text.toStdString();
        EXPECT_EQ(shown(*view, "runStatusSpinner"), c.spinner) << c.text.toStdString();
    }
}

TEST(JobStatusSlotTest, CaptionGlyphAndColourByPriority) {
    const SyncStrings strings;
    const auto caption = [&](std::optional<RunStatus> s, bool enabled, std::optional<RunOutcome> o) {
        return JobStatusSlot::caption(s, enabled, o, strings, english);
    };
    // A live status wins over paused, paused over the last outcome.
    EXPECT_EQ(caption(RunStatus::queued(), false, RunOutcome::failed("x")), "Queued");
    EXPECT_EQ(caption(std::nullopt, false, RunOutcome::failed("x")), "Paused");
    EXPECT_EQ(caption(std::nullopt, true, RunOutcome::skipped(SkipReason::onBattery)), "Skipped");
    JobStatusSlot slot(std::nullopt, true, std::nullopt, strings);
    auto* glyph = slot.findChild<QLabel*>(QStringLiteral("slotGlyph"));
    slot.setValues(std::nullopt, true, RunOutcome::completedWithErrors());
    EXPECT_EQ(glyph->property("tint").value<QColor>(), FenraTheme::error().color(slot.palette()));
    slot.setValues(std::nullopt, false, RunOutcome::success());
    EXPECT_FALSE(slot.toolTip().isEmpty()) << "paused: says manual runs still work";
    EXPECT_EQ(slot.statusView(), nullptr);
    // A paused job that runs shows its live status.
    slot.setValues(running(SyncPhase::transferring, 0.5), false, std::nullopt);
    ASSERT_NE(slot.statusView(), nullptr);
    EXPECT_EQ(slot.caption(), "50%");
    EXPECT_TRUE(slot.toolTip().isEmpty());
}

TEST(DeviceDotTest, OnlyAMissingRemovableDeviceWarnsAsTheNewestEvaluationOffTheThreadFinds) {
    test::FakeVolumeSource volumes;
    volumes.add("/", test::volumeIdentity(VolumeKind::internal, "ROOT", "Root"));
    SyncJob job = sampleJob();
    job.source.path = "/";
    job.source.volume = test::volumeIdentity(VolumeKind::internal, "ROOT", "Root");
    job.destination.volume = test::volumeIdentity(VolumeKind::removable, "USB", "Backup");
    EXPECT_TRUE(DeviceDot::requiresWarning(job, volumes));
    SyncJob other = job;
    std::swap(other.source, other.destination);
    EXPECT_TRUE(DeviceDot::requiresWarning(other, volumes));
    other.source.volume = test::volumeIdentity(VolumeKind::network, "NAS", "Share");
    EXPECT_FALSE(DeviceDot::requiresWarning(other, volumes));
    // The device is there but the folder on it is not.
    volumes.add("/media/ann/Backup", test::volumeIdentity(VolumeKind::removable, "USB", "Backup"));
    EXPECT_FALSE(DeviceDot::requiresWarning(job, volumes));
    FakeDotSources fake;
    fake.warning = true;
    auto dot = std::make_unique<DeviceDot>(sampleJob(), SyncStrings{}, fake.sources());
    EXPECT_EQ(fake.subscriptions, 0);
    dot->show();
    EXPECT_FALSE(dot->requiresWarning());  // until the first evaluation ends
    ASSERT_EQ(fake.pending.size(), 1u);
    fake.runAll();
    EXPECT_TRUE(dot->requiresWarning());
    EXPECT_GT(dot->width(), 0);
    // A volume event re-evaluates.
    fake.warning = false;
    fake.stream.lock()->push(VolumeEvent::mounted("/media/ann/Backup"));
    QTRY_COMPARE(fake.pending.size(), 1u);
    fake.runAll();
    EXPECT_FALSE(dot->requiresWarning());
    EXPECT_EQ(dot->width(), 0);
    // Two overlap; the older one, released last, read the volumes before the newer one and is dropped.
    SyncJob changed = sampleJob();
    dot->setJob(changed);
    dot->setJob(sampleJob());
    ASSERT_EQ(fake.pending.size(), 2u);
    auto older = std::move(fake.pending.front());
    fake.pending.pop_front();
    fake.runAll();  // the newer: no warning
    fake.warning = true;
    older();
    settle();
    EXPECT_FALSE(dot->requiresWarning());
    dot->hide();
    EXPECT_TRUE(fake.stream.expired());
    dot->show();
    EXPECT_TRUE(fake.subscriptions == 2 && !fake.stream.expired());
    dot.reset();
    EXPECT_TRUE(fake.stream.expired());
}

std::size_t threadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(DeviceDotTest, AHundredShownDotsOfTheSystemShareTheirThreads) {
    QWidget list;
    auto* rows = new QVBoxLayout(&list);
    std::vector<DeviceDot*> dots;
    const std::size_t before = threadCount();
    for (int row = 0; row < 100; ++row) {
        dots.push_back(new DeviceDot(sampleJob(), SyncStrings{}, DeviceDot::Sources::system(), &list));
        rows->addWidget(dots.back());
    }
    list.show();
    // The volume watcher and the one evaluating worker, whatever the count.
    EXPECT_LE(threadCount(), before + 2);
    // Every dot still gets its answer: the backup disk is not plugged in.
    QTRY_VERIFY_WITH_TIMEOUT(std::all_of(dots.begin(), dots.end(), [](DeviceDot* d) { return d->requiresWarning(); }),
                             30000);
}

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
