// Renders the run-status widgets in their states and a main window with
// three jobs to PNG files in the build folder, light and dark.
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "Kelto_Sync/Status/JobRunButton.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"
#include "SyncModel/Support/Clock.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/main/MainFixtures.h"

#include <QFileInfo>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(MainRenders, StatusWidgetsAndAMainWindowWithThreeJobs) {
    SyncProgress copying;
    copying.phase = SyncPhase::transferring;
    copying.fraction = 0.42;
    SyncProgress scanning;
    scanning.phase = SyncPhase::scanning;
    const SyncStrings strings = SyncStrings::application();
    FakeDotSources dots;
    dots.warning = true;

    for (const auto& look : WidgetRender::looks()) {
        QWidget states;
        states.setPalette(look.palette);
        states.setAutoFillBackground(true);
        states.setLocale(english);
        auto* column = new QVBoxLayout(&states);
        const std::optional<RunStatus> statuses[] = {RunStatus::running(copying), RunStatus::running(scanning),
                                                     RunStatus::awaitingConfirmation({}), RunStatus::queued(),
                                                     std::nullopt};
        for (const auto& status : statuses) {
            auto* line = new QHBoxLayout;
            line->addWidget(new JobStatusSlot(status, true, RunOutcome::success(), strings, &states), 1);
            line->addWidget(new JobRunButton("Photos", status, true, strings, {}, {}, &states));
            column->addLayout(line);
        }
        column->addWidget(new JobStatusSlot(std::nullopt, false, std::nullopt, strings, &states));
        column->addWidget(new JobStatusSlot(std::nullopt, true, RunOutcome::failed("x"), strings, &states));
        column->addWidget(new JobStatusSlot(std::nullopt, true, std::nullopt, strings, &states));
        states.resize(260, 300);
        states.show();
        settle();

        FakeAppModel fake;
        AppModelAdapter model(fake);
        SyncJob photos = namedJob("Photos", SyncMode::mirror);
        SyncJob music = namedJob("Music library on the travel disk", SyncMode::twoWay);
        SyncJob papers = namedJob("Papers", SyncMode::copy);
        papers.isEnabled = false;
        fake.setJobs({photos, music, papers});
        fake.setStatus(photos.id, RunStatus::running(copying));
        fake.setLastRecord(record(music, 0, RunOutcome::completedWithWarnings()));
        // The editor the window really shows, without the desktop's folder
        // checks and file dialog.
        const auto editors = [&](const SyncJob& job, bool isNew, std::function<void()> onSaved, QWidget* parent) {
            JobDetailView::Services services{
                {{}, [](std::function<void()>) {}, nullptr}, {}, {}, &SystemClock::shared()};
            return new JobDetailView(model, job, isNew, strings, std::move(onSaved), parent, services);
        };
        JobListView window(model, strings, editors, dots.sources());
        window.setPalette(look.palette);
        window.setAutoFillBackground(true);
        window.setLocale(english);
        window.resize(820, 540);
        window.show();
        dots.runAll();
        window.select(music.id);
        settle();
        const auto* editor = window.findChild<JobDetailView*>();
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->draft().id, music.id);

        for (auto [widget, name] : {std::pair<QWidget*, const char*>{&states, "StatusWidgets"}, {&window, "MainWindow"}}) {
            const QString file = QStringLiteral("%1-%2").arg(QLatin1String(name), QLatin1String(look.name));
            const QString path = WidgetRender::savePng(WidgetRender::image(*widget, 2), file);
            ASSERT_FALSE(path.isEmpty()) << file.toStdString();
            EXPECT_GT(QFileInfo(path).size(), 0);
        }
    }
}

}  // namespace
}  // namespace kelto
