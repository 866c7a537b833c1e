#include "FenraCore/Contrast.h"
#include "FenraCore/FenraTheme.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"
#include "Kelto_Sync/Status/RunStatusView.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/main/MainFixtures.h"
#include <QProgressBar>
#include <QVBoxLayout>
#include <filesystem>

namespace kelto {
namespace {

TEST(RunStatusViewTest, BarOnlyWhileCopyingWithAKnownTotalElseTheStatusText) {
    RunStatusView view(running(SyncPhase::transferring, 0.25), SyncStrings{});
    view.setLocale(english);
    EXPECT_TRUE(shown(view, "runStatusBar") && !shown(view, "runStatusSpinner"));
    EXPECT_EQ(textOf(view, "runStatusText"), "25%");
    struct Case { RunStatus status; QString text; bool spinner; };
    for (const Case& c : {Case{running(SyncPhase::transferring, std::nullopt), "phase.transferring", true},
                          Case{running(SyncPhase::scanning, 0.5), "phase.scanning", true},
                          Case{RunStatus::awaitingConfirmation(SyncPlan{}), "Needs review", false},
                          Case{RunStatus::queued(), "Queued", false}}) {
        view.setStatus(c.status);
        EXPECT_EQ(textOf(view, "runStatusText"), c.text);
        EXPECT_FALSE(shown(view, "runStatusBar")) << c.text.toStdString();
        EXPECT_EQ(shown(view, "runStatusSpinner"), c.spinner) << c.text.toStdString();
    }
}

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

TEST(RunStatusViewTest, InTheDarkTheBarsEmptyTrackStandsOutFromTheList) {
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
    const auto* bar = view->findChild<QProgressBar*>(QStringLiteral("runStatusBar"));
    const QPoint empty = bar->mapTo(&list, QPoint(bar->width() * 3 / 4, bar->height() / 2));
    const auto rgb = [&](QPoint at) {
        const QColor c = image.pixelColor(at);
        return RGB(c.redF(), c.greenF(), c.blueF());
    };
    EXPECT_GT(Contrast::ratio(rgb(empty), rgb(QPoint(empty.x(), 1))), 1.5);
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

// Only a missing removable device warns; the dot evaluates off the thread, follows volume events while shown and
// keeps the newest evaluation started.
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

}  // namespace
}  // namespace kelto
