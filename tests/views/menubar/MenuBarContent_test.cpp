#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "FenraCore/WindowPlacement.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/Status/JobRunButton.h"
#include "Kelto_Sync/Tray/MenuBarJobRow.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QScrollArea>
#include <QScrollBar>

namespace kelto {
namespace {

std::vector<SyncJob> jobsNamed(int count) {
    std::vector<SyncJob> jobs;
    for (int i = 0; i < count; ++i) jobs.push_back(namedJob("Job " + std::to_string(i)));
    return jobs;
}

struct MenuBar : ::testing::Test {
    FakeAppModel fake;
    AppModelAdapter model{fake};
    FakeDotSources dots;
    // Two hours after the end of record(job, 0).
    ManualClock clock{Date::fromUnix(1'700'000'000.0 + 95 + 7200)};
    int opened = 0, settingsShown = 0, quits = 0;
    std::unique_ptr<MenuBarContent> make(bool withActions = true, std::optional<int> heightLimit = std::nullopt) {
        MenuBarContent::Actions actions;
        if (withActions) {
            actions.openMainWindow = [this] { ++opened; };
            actions.showSettings = [this] { ++settingsShown; };
            actions.quit = [this] { ++quits; };
        }
        auto content = std::make_unique<MenuBarContent>(model, SyncStrings{}, std::move(actions), dots.sources(), clock);
        content->setLocale(english);
        content->setHeightLimit(heightLimit);
        content->show();
        settle();
        return content;
    }
    static std::vector<QPushButton*> commands(const MenuBarContent& c) {
        return {c.openButton(), c.settingsButton(), c.quitButton()};
    }
    static bool marked(const MenuBarContent& content, std::size_t index) { return content.rows().at(index)->isMarked(); }
};

TEST_F(MenuBar, WithoutJobsTheCommandsThatNeedNoJobStayEnabledAndCallTheirActions) {
    auto content = make();
    EXPECT_TRUE(shown(*content, "noJobs"));
    EXPECT_FALSE(shown(*content, "queuedCount") || content->syncAllButton()->isEnabled());
    for (QPushButton* button : commands(*content)) QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(std::tuple(opened, settingsShown, quits), std::tuple(1, 1, 1));
    content->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(content.get()));
    QTest::keyClick(content.get(), Qt::Key_Q, Qt::ControlModifier);
    // A shortcut presses its button visibly: the click comes a moment later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return quits == 2; }));
    // A job arriving takes the empty line's place and enables "Sync all".
    fake.setJobs({namedJob("Photos")});
    EXPECT_FALSE(shown(*content, "noJobs"));
    EXPECT_TRUE(content->rows().size() == 1 && content->syncAllButton()->isEnabled());
    fake.setJobs({});
    EXPECT_TRUE(content->rows().empty() && shown(*content, "noJobs"));
    // The commands share one width, the widest's, at the column's start.
    const QRect syncAll = content->syncAllButton()->geometry();
    for (QPushButton* button : commands(*content))
        EXPECT_EQ(button->geometry(), syncAll.translated(0, button->y() - syncAll.y()));
    EXPECT_GE(content->openButton()->width(), content->openButton()->sizeHint().width());
    // Commands without an action are not offered.
    auto bare = make(false);
    for (QPushButton* button : commands(*bare)) EXPECT_FALSE(button->isVisibleTo(bare.get()));
    EXPECT_TRUE(bare->syncAllButton()->isVisibleTo(bare.get()));
}

TEST_F(MenuBar, QueuedCountAndRunningMarkerFollowTheStatuses) {
    const std::vector<SyncJob> jobs = jobsNamed(4);
    fake.setJobs(jobs);
    fake.setStatus(jobs[0].id, running());
    fake.setStatus(jobs[1].id, RunStatus::queued());
    fake.setStatus(jobs[2].id, RunStatus::queued());
    fake.setStatus(jobs[3].id, RunStatus::awaitingConfirmation({}));  // neither queued nor running
    auto content = make();
    EXPECT_EQ(textOf(*content, "queuedCount"), "Queued: 2");
    EXPECT_TRUE(marked(*content, 0));
    EXPECT_FALSE(marked(*content, 1) || marked(*content, 2) || marked(*content, 3));
    fake.setStatus(jobs[0].id, std::nullopt);
    EXPECT_FALSE(marked(*content, 0));
    fake.setStatus(jobs[1].id, running());
    EXPECT_TRUE(marked(*content, 1));
    EXPECT_EQ(textOf(*content, "queuedCount"), "Queued: 1");
    fake.setStatus(jobs[2].id, std::nullopt);
    EXPECT_FALSE(shown(*content, "queuedCount"));
    // Rows follow the jobs' order, and a removed job takes its row along.
    fake.setJobs({jobs[3], jobs[1]});
    ASSERT_EQ(content->rows().size(), 2u);
    EXPECT_EQ(content->rows()[0]->job().id, jobs[3].id);
    EXPECT_FALSE(marked(*content, 0));
    EXPECT_TRUE(marked(*content, 1));
    SCOPED_TRACE("RowButtonsRunOrStopTheirJobSyncAllAsksTheModelOnceAndALongNameIsCutAtItsEnd, whole in its tip");
    const SyncJob mirror = namedJob("Mirror", SyncMode::mirror);
    const std::string name = "Photographs of every holiday since the year two thousand, sorted by place and day";
    SyncJob paused = namedJob(name, SyncMode::copy);
    paused.isEnabled = false;
    const SyncJob twoWay = namedJob("Two-way", SyncMode::twoWay);
    fake.setJobs({mirror, paused, twoWay});
    fake.setStatus(twoWay.id, RunStatus::queued());
    const auto& rows = content->rows();
    for (const MenuBarJobRow* row : rows) QTest::mouseClick(row->runButton(), Qt::LeftButton);
    EXPECT_EQ(fake.runNowCalls, (std::vector<Uuid>{mirror.id, paused.id})) << "paused jobs still run by hand";
    EXPECT_EQ(fake.cancelCalls, std::vector<Uuid>{twoWay.id});
    QTest::mouseClick(content->syncAllButton(), Qt::LeftButton);
    EXPECT_EQ(fake.runAllCalls, 1);
    EXPECT_EQ(fake.runNowCalls.size(), 2u);
    const QLabel* label = rows[1]->nameLabel();
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_EQ(label->toolTip(), QString::fromStdString(name));
}

// The running card's top trailing corner is folded: above the fold the card is cut away rather than rounded behind
// the flap; elsewhere it is rounded as every card is. Right to left, the same at the top left.
TEST_F(MenuBar, TheRunningCardsCornerIsFoldedWithinItsOutline) {
    const std::vector<SyncJob> jobs = jobsNamed(2);
    fake.setJobs(jobs);
    fake.setStatus(jobs[0].id, running());
    for (const auto direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        SCOPED_TRACE(direction == Qt::LeftToRight ? "left to right" : "right to left");
        auto content = make();
        content->setLayoutDirection(direction);
        settle();
        MenuBarJobRow* marked = content->rows()[0];
        MenuBarJobRow* plain = content->rows()[1];
        const QImage markedImage = WidgetRender::image(*marked);
        const QImage plainImage = WidgetRender::image(*plain);
        ASSERT_EQ(markedImage.devicePixelRatio(), 1);
        const int w = marked->width();
        const auto at = [&](int x) { return direction == Qt::LeftToRight ? x : w - 1 - x; };
        // Above the fold, inside a plain card's rounded corner; below it, the flap.
        EXPECT_EQ(WidgetRender::pixel(plainImage, at(w - 9), 2).alpha(), 255);
        EXPECT_EQ(WidgetRender::pixel(markedImage, at(w - 9), 2).alpha(), 0) << "the card goes on behind the flap";
        EXPECT_EQ(WidgetRender::pixel(markedImage, at(w - 10), 9).alpha(), 255);
        // Outside the mark's square the card covers no more than a plain one (at twice the pixels).
        const QImage markedFine = WidgetRender::image(*marked, 2);
        const QImage plainFine = WidgetRender::image(*plain, 2);
        int excess = 0;
        for (int y = 0; y < 2 * 16; ++y) {
            for (int x = 2 * (w - 16); x < 2 * w; ++x) {
                const int fine = direction == Qt::LeftToRight ? x : 2 * w - 1 - x;
                if (y < 2 * 12 && x >= 2 * (w - 12)) continue;
                excess = std::max(excess, WidgetRender::pixel(markedFine, fine, y).alpha() -
                                              WidgetRender::pixel(plainFine, fine, y).alpha());
            }
        }
        EXPECT_LE(excess, 16) << "the card runs straight into its rounded corner";
    }
}

TEST_F(MenuBar, ThirdLineNextRunFollowingTheSchedulerElseTheLastRunElseBlank) {
    const Date fire = Date::fromUnix(1'700'050'000.0);
    std::vector<SyncJob> jobs = jobsNamed(4);  // scheduled, paused with history, paused never run, manual only
    jobs[1].isEnabled = jobs[2].isEnabled = false;
    fake.setJobs(jobs);
    fake.fireDates = {{jobs[1].id, fire}, {jobs[2].id, fire}};
    fake.setLastRecord(record(jobs[0], 0));
    fake.setLastRecord(record(jobs[1], 0));
    auto content = make();
    const auto& rows = content->rows();
    // The next run follows the scheduler's notice.
    for (const Date at : {fire, fire.adding(3600)}) {
        fake.setFireDate(jobs[0].id, at);
        EXPECT_EQ(textOf(*rows[0], "nextRunTime"), DisplayFormat::time(at, english));
    }
    EXPECT_FALSE(shown(*rows[0], "lastRunEnded"));
    EXPECT_EQ(rows[1]->whenText(), "2 hours ago") << "paused: the last run instead";
    EXPECT_FALSE(shown(*rows[1], "nextRunTitle"));
    for (const MenuBarJobRow* blank : {rows[2], rows[3]})
        EXPECT_TRUE(blank->whenText().isEmpty() && shown(*blank, "blankLine")) << blank->job().name;
    // A finished run fills the blank line.
    fake.setLastRecord(record(jobs[3], 0, RunOutcome::failed("x")));
    EXPECT_EQ(rows[3]->whenText(), "2 hours ago");
    EXPECT_FALSE(shown(*rows[3], "blankLine"));
}

TEST_F(MenuBar, MoreJobsThanTheScreenHoldsScrollTheirRowsAndKeepTheCommandsInside) {
    fake.setJobs(jobsNamed(7));
    const int natural = make()->height();
    auto roomy = make(true, natural + 50);
    EXPECT_EQ(roomy->height(), natural) << "room enough: nothing scrolls";
    EXPECT_FALSE(roomy->rowScroll()->verticalScrollBar()->isVisible());
    auto content = make(true, natural / 2);
    EXPECT_LE(content->height(), natural / 2);
    EXPECT_TRUE(content->rowScroll()->verticalScrollBar()->isVisible());
    std::vector<QPushButton*> buttons = commands(*content);
    buttons.push_back(content->syncAllButton());
    for (QPushButton* button : buttons) {
        const QRect at(button->mapTo(content.get(), QPoint()), button->size());
        EXPECT_TRUE(button->isVisible() && content->rect().contains(at)) << button->objectName().toStdString();
    }
}

TEST_F(MenuBar, SevenJobsOnA1280By800ScreenShowTheRunningJob) {
    const std::vector<SyncJob> seven = jobsNamed(7);
    fake.setJobs(seven);
    fake.setStatus(seven[5].id, running());
    const int room = WindowPlacement::roomBeside(QRect(1250, 2, 24, 24), QRect(0, 28, 1280, 772));
    auto content = make(true, room);
    const auto& rows = content->rows();
    const int natural = content->height() - content->rowScroll()->height() + 7 * MenuBarJobRow::cardHeight + 6 * 12;
    EXPECT_LE(content->height(), room);
    QScrollArea* scroll = content->rowScroll();
    const auto inView = [&](const MenuBarJobRow* row) {
        return scroll->viewport()->rect().contains(QRect(row->mapTo(scroll->viewport(), QPoint(0, 0)), row->size()));
    };
    EXPECT_EQ(scroll->verticalScrollBar()->isVisible(), natural > room) << "room " << room << ", every card " << natural;
    for (const MenuBarJobRow* row : rows) EXPECT_TRUE(natural > room || inView(row));
    EXPECT_TRUE(inView(rows[5])) << "the running job is in view";
}

TEST_F(MenuBar, RowsChangedWhileClosedAreMeasuredAgainOnOpening) {
    const std::vector<SyncJob> jobs = jobsNamed(7);
    const std::vector<SyncJob> two{jobs[0], jobs[1]};
    fake.setJobs(two);
    auto content = make();
    const int twoHigh = content->height();
    fake.setJobs(jobs);
    settle();
    const int limit = (twoHigh + content->height()) / 2;
    fake.setJobs(two);
    settle();
    content->setHeightLimit(limit);
    settle();
    QScrollArea* scroll = content->rowScroll();
    const auto open = [&](const std::vector<SyncJob>& shown) {
        content->hide();
        fake.setJobs(shown);
        for (const SyncJob& job : fake.jobs()) fake.setStatus(job.id, running());
        content->show();
        settle();
    };
    for (int round = 0; round < 2; ++round) {
        open(jobs);
        EXPECT_LE(content->height(), limit);
        EXPECT_TRUE(scroll->verticalScrollBar()->isVisible()) << "the last rows are reachable";
        open(two);
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
        EXPECT_EQ(scroll->height(), scroll->widget()->sizeHint().height()) << "no empty band";
        EXPECT_EQ(content->height(), twoHigh);
    }
    // Once fitted, an open popup lays its rows out no more (else it would spin while open).
    struct LayoutRequests : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::LayoutRequest;
            return false;
        }
    } requests;
    scroll->widget()->installEventFilter(&requests);
    for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
    EXPECT_EQ(requests.count, 0);
    scroll->widget()->removeEventFilter(&requests);
}

}  // namespace
}  // namespace kelto
