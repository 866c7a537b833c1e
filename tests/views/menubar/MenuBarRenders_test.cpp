// Renders the tray popup's content with no jobs and with three (running,
// queued, paused) to PNG files in the build folder, light and dark.
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/main/MainFixtures.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(MenuBarRenders, NoJobsAndThreeJobs) {
    SyncProgress copying;
    copying.phase = SyncPhase::transferring;
    copying.fraction = 0.42;
    ManualClock clock{Date::fromUnix(1'700'000'000.0 + 3 * 3600)};
    const SyncStrings strings = SyncStrings::application();
    FakeDotSources dots;
    dots.warning = true;
    const MenuBarContent::Actions actions{[] {}, [] {}, [] {}};

    for (const auto& look : WidgetRender::looks()) {
        for (const bool withJobs : {false, true}) {
            FakeAppModel fake;
            AppModelAdapter model(fake);
            if (withJobs) {
                const SyncJob photos = namedJob("Photos", SyncMode::mirror);
                const SyncJob music = namedJob("Music library on the travel disk", SyncMode::twoWay);
                SyncJob papers = namedJob("Papers", SyncMode::copy);
                papers.isEnabled = false;
                fake.setJobs({photos, music, papers});
                fake.setStatus(photos.id, RunStatus::running(copying));
                fake.setStatus(music.id, RunStatus::queued());
                fake.setLastRecord(record(music, 1, RunOutcome::completedWithWarnings()));
                fake.setLastRecord(record(papers, 2));
                fake.fireDates[photos.id] = Date::fromUnix(1'700'000'000.0 + 5 * 3600);
            }
            MenuBarContent content(model, strings, actions, dots.sources(), clock);
            content.setPalette(look.palette);
            content.setLocale(english);
            content.show();
            dots.runAll();
            settle();

            const QString file = QStringLiteral("MenuBar-%1-%2").arg(withJobs ? "ThreeJobs" : "NoJobs", look.name);
            const QString path = WidgetRender::savePng(WidgetRender::image(content, 2), file);
            ASSERT_FALSE(path.isEmpty()) << file.toStdString();
            EXPECT_GT(QFileInfo(path).size(), 0);
        }
    }
}

}  // namespace
}  // namespace kelto
