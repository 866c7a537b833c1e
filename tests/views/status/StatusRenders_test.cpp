// Renders the job overview idle, running and edited to PNG files in the
// build folder, light and dark, for a person to look at.
#include "Kelto_Sync/JobOverviewView.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(StatusRenders, OverviewIdleRunningAndEdited) {
    FakeAppModel fake;
    AppModelAdapter adapter(fake);
    ManualClock clock(Date::fromUnix(1'700'003'600.0));
    SyncJob job = sampleJob(SyncMode::mirror);
    job.triggers = {Trigger::onConnect(ConnectAction::run), Trigger::daily({9, 0})};
    fake.setJobs({job});
    fake.fireDates[job.id] = Date::fromUnix(1'700'040'000.0);
    std::vector<RunRecord> history;
    for (int i = 0; i < 5; ++i) history.push_back(record(job, i));
    history[1].outcome = RunOutcome::completedWithWarnings();
    fake.historySource = [&](const Uuid&) { return history; };
    fake.setLastRecord(history[0]);

    SyncProgress progress;
    progress.phase = SyncPhase::transferring;
    progress.fraction = 0.42;
    progress.bytesDone = 1'420'000'000;
    progress.bytesTotal = 3'380'000'000;
    progress.filesDone = 1'204;
    progress.filesTotal = 2'871;
    progress.currentPath = "Trip to the coast/IMG_4711.HEIC";

    for (const auto& look : WidgetRender::looks()) {
        for (const char* state : {"idle", "running", "edited"}) {
            fake.setStatus(job.id, std::string(state) == "running" ? std::optional(RunStatus::running(progress))
                                                                   : std::nullopt);
            JobOverviewView view(adapter, job, SyncStrings::application(), [] {}, {}, StatusViewActions{}, clock);
            view.setLocale(english);
            view.setPalette(WidgetRender::withWindowButtons(look.palette));
            view.setAutoFillBackground(true);
            view.setDirty(std::string(state) == "edited");
            view.resize(560, 900);
            view.show();
            settle();
            const QString name = QStringLiteral("JobOverview-%1-%2").arg(QLatin1String(state), QLatin1String(look.name));
            const QString path = WidgetRender::savePng(WidgetRender::image(view, 2), name);
            ASSERT_FALSE(path.isEmpty()) << name.toStdString();
            EXPECT_GT(QFileInfo(path).size(), 0);
        }
    }
}

}  // namespace
}  // namespace kelto
