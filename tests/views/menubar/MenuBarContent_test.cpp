#include "Kelto_Sync/Tray/MenuBarContent.h"

#include "FenraCore/DogEar.h"
#include "FenraCore/TileTint.h"
#include "FenraCore/WindowPlacement.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/Status/JobRunButton.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"
#include "Kelto_Sync/Tray/MenuBarJobRow.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/main/MainFixtures.h"

#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <iostream>

#include <gtest/gtest.h>

namespace kelto {
namespace {

RunStatus running() {
    SyncProgress progress;
    progress.phase = SyncPhase::scanning;
    return RunStatus::running(progress);
}

struct MenuBar : ::testing::Test {
    FakeAppModel fake;
    AppModelAdapter model{fake};
    FakeDotSources dots;
    // Two hours after the end of record(job, 0).
    ManualClock clock{Date::fromUnix(1'700'000'000.0 + 95 + 7200)};
    int opened = 0;
    int settingsShown = 0;
    int quits = 0;

    std::unique_ptr<MenuBarContent> make(bool withActions = true) {
        MenuBarContent::Actions actions;
        if (withActions) {
            actions.openMainWindow = [this] { ++opened; };
            actions.showSettings = [this] { ++settingsShown; };
            actions.quit = [this] { ++quits; };
        }
        auto content = std::make_unique<MenuBarContent>(model, SyncStrings{}, std::move(actions), dots.sources(), clock);
        content->setLocale(english);
        content->show();
        settle();
        return content;
    }
    static bool marked(const MenuBarContent& content, std::size_t index) { return content.rows().at(index)->isMarked(); }
};

TEST_F(MenuBar, WithoutJobsTheCommandsThatNeedNoJobStayEnabledAndCallTheirActions) {
    auto content = make();
    EXPECT_EQ(textOf(*content, "header"), "Kelto Sync");
    EXPECT_TRUE(shown(*content, "noJobs"));
    EXPECT_EQ(textOf(*content, "noJobs"), "No sync jobs yet");
    EXPECT_FALSE(shown(*content, "queuedCount"));
    EXPECT_TRUE(shown(*content, "divider"));
    EXPECT_TRUE(content->rows().empty());
    EXPECT_FALSE(content->syncAllButton()->isEnabled());
    for (QPushButton* button : {content->openButton(), content->settingsButton(), content->quitButton()}) {
        EXPECT_TRUE(button->isVisibleTo(content.get()));
        EXPECT_TRUE(button->isEnabled());
    }
    EXPECT_EQ(content->width(), MenuBarContent::contentWidth);

    QTest::mouseClick(content->openButton(), Qt::LeftButton);
    QTest::mouseClick(content->settingsButton(), Qt::LeftButton);
    QTest::mouseClick(content->quitButton(), Qt::LeftButton);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(settingsShown, 1);
    EXPECT_EQ(quits, 1);
    content->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(content.get()));
    QTest::keyClick(content.get(), Qt::Key_Q, Qt::ControlModifier);
    // A shortcut presses its button visibly: the click comes a moment later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return quits == 2; }));

    // A job arriving takes the empty line's place and enables "Sync all".
    fake.setJobs({namedJob("Photos")});
    EXPECT_FALSE(shown(*content, "noJobs"));
    EXPECT_EQ(content->rows().size(), 1u);
    EXPECT_TRUE(content->syncAllButton()->isEnabled());
    fake.setJobs({});
    EXPECT_TRUE(content->rows().empty());
    EXPECT_TRUE(shown(*content, "noJobs"));

    // The commands share one width, the widest's, at the column's start.
    for (QPushButton* button : {content->openButton(), content->settingsButton(), content->quitButton()}) {
        EXPECT_EQ(button->geometry(), content->syncAllButton()->geometry().translated(0, button->y() -
                                                                                        content->syncAllButton()->y()));
    }
    EXPECT_GE(content->openButton()->width(), content->openButton()->sizeHint().width());

    // Commands without an action are not offered.
    auto bare = make(false);
    for (QPushButton* button : {bare->openButton(), bare->settingsButton(), bare->quitButton()}) {
        EXPECT_FALSE(button->isVisibleTo(bare.get()));
    }
    EXPECT_TRUE(bare->syncAllButton()->isVisibleTo(bare.get()));
}

TEST_F(MenuBar, QueuedCountAndRunningMarkerFollowTheStatuses) {
    const SyncJob first = namedJob("First");
    const SyncJob second = namedJob("Second");
    const SyncJob third = namedJob("Third");
    const SyncJob parked = namedJob("Parked");
    fake.setJobs({first, second, third, parked});
    fake.setStatus(first.id, running());
    fake.setStatus(second.id, RunStatus::queued());
    fake.setStatus(third.id, RunStatus::queued());
    // Awaiting review is neither queued nor running.
    fake.setStatus(parked.id, RunStatus::awaitingConfirmation({}));
    auto content = make();
    EXPECT_TRUE(shown(*content, "queuedCount"));
    EXPECT_EQ(textOf(*content, "queuedCount"), "Queued: 2");
    EXPECT_TRUE(marked(*content, 0));
    EXPECT_FALSE(marked(*content, 1));
    EXPECT_FALSE(marked(*content, 2));
    EXPECT_FALSE(marked(*content, 3));
    // The marker sits in the card's top trailing corner.
    const MenuBarJobRow* row = content->rows()[0];
    EXPECT_EQ(row->marker()->geometry(), QRect(row->width() - 12, 0, 12, 12));

    fake.setStatus(first.id, std::nullopt);
    EXPECT_FALSE(marked(*content, 0));
    fake.setStatus(second.id, running());
    EXPECT_TRUE(marked(*content, 1));
    EXPECT_EQ(textOf(*content, "queuedCount"), "Queued: 1");
    fake.setStatus(third.id, std::nullopt);
    EXPECT_FALSE(shown(*content, "queuedCount"));

    // Rows follow the jobs' order, and a removed job takes its row along.
    fake.setJobs({parked, second});
    ASSERT_EQ(content->rows().size(), 2u);
    EXPECT_EQ(content->rows()[0]->job().id, parked.id);
    EXPECT_FALSE(marked(*content, 0));
    EXPECT_TRUE(marked(*content, 1));
}

// The running card's top trailing corner is folded: the flap lies within
// the card's outline, and above the fold the card is cut away rather than
// rounded behind the flap; either side of the fold it is rounded as every
// card is. Right to left, the same at the top left.
TEST_F(MenuBar, TheRunningCardsCornerIsFoldedWithinItsOutline) {
    const SyncJob first = namedJob("First");
    const SyncJob second = namedJob("Second");
    fake.setJobs({first, second});
    fake.setStatus(first.id, running());
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
        // Above the fold, inside a plain card's rounded corner.
        EXPECT_EQ(WidgetRender::pixel(plainImage, at(w - 9), 2).alpha(), 255);
        EXPECT_EQ(WidgetRender::pixel(markedImage, at(w - 9), 2).alpha(), 0) << "the card goes on behind the flap";
        // Below it, the flap.
        EXPECT_EQ(WidgetRender::pixel(markedImage, at(w - 10), 9).alpha(), 255);
        // On either side of the fold the card keeps the rounded corner of
        // every card: outside the mark's square it covers no more than a
        // plain card (seen at twice the pixels, where a part of one shows).
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

TEST_F(MenuBar, ThirdLineNextRunForEnabledJobsElseTheLastRunElseBlank) {
    const Date fire = Date::fromUnix(1'700'050'000.0);
    SyncJob scheduled = namedJob("Scheduled");
    SyncJob pausedWithHistory = namedJob("Paused with history");
    pausedWithHistory.isEnabled = false;
    SyncJob pausedNever = namedJob("Paused, never run");
    pausedNever.isEnabled = false;
    const SyncJob manual = namedJob("Manual only");
    fake.setJobs({scheduled, pausedWithHistory, pausedNever, manual});
    fake.fireDates = {{scheduled.id, fire}, {pausedWithHistory.id, fire}, {pausedNever.id, fire}};
    fake.setLastRecord(record(scheduled, 0));
    fake.setLastRecord(record(pausedWithHistory, 0));
    auto content = make();
    const auto& rows = content->rows();

    EXPECT_EQ(textOf(*rows[0], "nextRunTitle"), "Next run");
    EXPECT_EQ(textOf(*rows[0], "nextRunTime"), DisplayFormat::time(fire, english));
    EXPECT_FALSE(shown(*rows[0], "lastRunEnded"));
    // Paused: automatic runs are off, so the last run is shown instead.
    EXPECT_EQ(rows[1]->whenText(), "2 hours ago");
    EXPECT_FALSE(shown(*rows[1], "nextRunTitle"));
    for (const MenuBarJobRow* blank : {rows[2], rows[3]}) {
        EXPECT_TRUE(blank->whenText().isEmpty()) << blank->job().name;
        EXPECT_TRUE(shown(*blank, "blankLine"));
        EXPECT_EQ(blank->findChild<QWidget*>(QStringLiteral("whenLine"))->height(), 16);
    }

    // A finished run fills the blank line.
    fake.setLastRecord(record(manual, 0, RunOutcome::failed("x")));
    EXPECT_EQ(rows[3]->whenText(), "2 hours ago");
    EXPECT_FALSE(shown(*rows[3], "blankLine"));
    EXPECT_EQ(rows[3]->statusSlot()->caption(), "Failed");
}

TEST_F(MenuBar, NextRunFollowsTheSchedulersNotice) {
    const SyncJob scheduled = namedJob("Scheduled");
    fake.setJobs({scheduled});
    auto content = make();
    EXPECT_TRUE(content->rows()[0]->whenText().isEmpty());
    const Date fire = Date::fromUnix(1'700'050'000.0);
    fake.setFireDate(scheduled.id, fire);
    EXPECT_EQ(textOf(*content->rows()[0], "nextRunTime"), DisplayFormat::time(fire, english));
    fake.setFireDate(scheduled.id, fire.adding(3600));
    EXPECT_EQ(textOf(*content->rows()[0], "nextRunTime"), DisplayFormat::time(fire.adding(3600), english));
}

TEST(MenuBarTime, TimeOfDayAloneInTheLocalesForm) {
    const Date moment = Date::fromUnix(1704467040);  // 2024-01-05 15:04 UTC
    EXPECT_EQ(DisplayFormat::time(moment, english, QTimeZone::utc()), QStringLiteral("3:04\u202FPM"));
    EXPECT_EQ(DisplayFormat::time(moment, QLocale(QLocale::German, QLocale::Germany), QTimeZone::utc()),
              QStringLiteral("15:04"));
}

TEST_F(MenuBar, RowButtonsRunOrStopTheirJobAndSyncAllAsksTheModelOnce) {
    const SyncJob mirror = namedJob("Mirror", SyncMode::mirror);
    SyncJob paused = namedJob("Paused copy", SyncMode::copy);
    paused.isEnabled = false;
    const SyncJob twoWay = namedJob("Two-way", SyncMode::twoWay);
    fake.setJobs({mirror, paused, twoWay});
    fake.setStatus(twoWay.id, RunStatus::queued());
    auto content = make();
    const auto& rows = content->rows();

    QTest::mouseClick(rows[0]->runButton(), Qt::LeftButton);
    QTest::mouseClick(rows[1]->runButton(), Qt::LeftButton);  // paused jobs still run by hand
    QTest::mouseClick(rows[2]->runButton(), Qt::LeftButton);
    EXPECT_EQ(fake.runNowCalls, (std::vector<Uuid>{mirror.id, paused.id}));
    EXPECT_EQ(fake.cancelCalls, std::vector<Uuid>{twoWay.id});

    QTest::mouseClick(content->syncAllButton(), Qt::LeftButton);
    EXPECT_EQ(fake.runAllCalls, 1);
    EXPECT_EQ(fake.runNowCalls.size(), 2u);

    // The mode's tile.
    const auto tile = [&](std::size_t i) {
        const QWidget* label = rows[i]->findChild<QWidget*>(QStringLiteral("modeTile"));
        return std::pair(label->property("symbol").toString(), static_cast<TileTint>(label->property("tint").toInt()));
    };
    EXPECT_EQ(tile(0), std::pair(QStringLiteral("arrow.triangle.2.circlepath"), TileTint::cobalt));
    EXPECT_EQ(tile(1), std::pair(QStringLiteral("doc.on.doc"), TileTint::sky));
    EXPECT_EQ(tile(2), std::pair(QStringLiteral("arrow.triangle.2.circlepath"), TileTint::kelto));
}

TEST_F(MenuBar, ALongNameIsCutAtItsEndAndWholeInItsTooltip) {
    const std::string name = "Photographs of every holiday since the year two thousand, sorted by place and day";
    fake.setJobs({namedJob(name)});
    auto content = make();
    const QLabel* label = content->rows()[0]->nameLabel();
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    EXPECT_EQ(label->toolTip(), QString::fromStdString(name));
    EXPECT_EQ(content->width(), MenuBarContent::contentWidth);
}

TEST_F(MenuBar, TenJobsGiveTenRowsTwelveApartAndATallerPopupThatDoesNotScroll) {
    fake.setJobs({namedJob("Only")});
    auto content = make();
    const int oneJob = content->height();

    std::vector<SyncJob> ten;
    for (int i = 0; i < 10; ++i) ten.push_back(namedJob("Job " + std::to_string(i)));
    fake.setJobs(ten);
    settle();
    const auto& rows = content->rows();
    ASSERT_EQ(rows.size(), 10u);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]->y() - rows[i - 1]->geometry().bottom() - 1, 12);
    }
    const int rowHeight = rows[0]->height();
    EXPECT_EQ(content->height() - oneJob, 9 * (rowHeight + 12));
    EXPECT_EQ(content->findChild<QScrollArea*>(), nullptr);
}

// Past the screen's height the job rows scroll and the commands stay.
TEST_F(MenuBar, MoreJobsThanTheScreenHoldsScrollTheirRowsAndKeepTheCommandsInside) {
    std::vector<SyncJob> seven;
    for (int i = 0; i < 7; ++i) seven.push_back(namedJob("Job " + std::to_string(i)));
    fake.setJobs(seven);
    const auto limited = [&](std::optional<int> limit) {
        auto content = std::make_unique<MenuBarContent>(model, SyncStrings{}, MenuBarContent::Actions{
            [] {}, [] {}, [] {}}, dots.sources(), clock);
        content->setLocale(english);
        content->setHeightLimit(limit);
        content->show();
        settle();
        return content;
    };
    const int natural = limited(std::nullopt)->height();

    auto roomy = limited(natural + 50);
    EXPECT_EQ(roomy->height(), natural) << "room enough: nothing scrolls";
    EXPECT_FALSE(roomy->rowScroll()->verticalScrollBar()->isVisible());

    const int limit = natural / 2;
    auto content = limited(limit);
    EXPECT_LE(content->height(), limit);
    EXPECT_TRUE(content->rowScroll()->verticalScrollBar()->isVisible());
    for (QPushButton* button : {content->syncAllButton(), content->openButton(), content->settingsButton(),
                                content->quitButton()}) {
        EXPECT_TRUE(button->isVisible());
        EXPECT_TRUE(content->rect().contains(QRect(button->mapTo(content.get(), QPoint()), button->size())))
            << button->objectName().toStdString();
    }
}

// A 1280 x 800 screen with a 28-pixel panel at its top, the tray icon at its
// right end, and seven jobs, the sixth running. Each card is as high as its
// measures make it. Where the screen holds them all, every row shows and
// nothing scrolls; where it does not, the rows scroll and the popup opens
// with the running job's card in view.
TEST_F(MenuBar, SevenJobsOnA1280By800ScreenShowTheRunningJob) {
    std::vector<SyncJob> seven;
    for (int i = 0; i < 7; ++i) seven.push_back(namedJob("Job " + std::to_string(i)));
    fake.setJobs(seven);
    fake.setStatus(seven[5].id, running());
    const QRect free(0, 28, 1280, 772);
    const QRect icon(1250, 2, 24, 24);
    const int room = WindowPlacement::roomBeside(icon, free);
    auto content = std::make_unique<MenuBarContent>(model, SyncStrings{}, MenuBarContent::Actions{[] {}, [] {}, [] {}},
                                                    dots.sources(), clock);
    content->setLocale(english);
    content->setHeightLimit(room);
    content->show();
    settle();

    const auto& rows = content->rows();
    ASSERT_EQ(rows.size(), 7u);
    for (const MenuBarJobRow* row : rows) EXPECT_EQ(row->height(), MenuBarJobRow::cardHeight);
    const int rowsHeight = 7 * MenuBarJobRow::cardHeight + 6 * 12;
    const int natural = content->height() - content->rowScroll()->height() + rowsHeight;
    std::cout << "room " << room << ", card " << MenuBarJobRow::cardHeight << ", seven cards " << rowsHeight
              << ", popup with every card " << natural << '\n';
    EXPECT_LE(content->height(), room);
    QScrollArea* scroll = content->rowScroll();
    const auto inView = [&](const MenuBarJobRow* row) {
        const QRect on(row->mapTo(scroll->viewport(), QPoint(0, 0)), row->size());
        return scroll->viewport()->rect().contains(on);
    };
    if (natural <= room) {
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
        for (const MenuBarJobRow* row : rows) EXPECT_TRUE(inView(row));
    } else {
        EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    }
    EXPECT_TRUE(inView(rows[5])) << "the running job is in view";
    EXPECT_TRUE(rows[5]->isMarked());
}

// Jobs that come and go while the popup is closed are measured again when
// it opens: no row out of reach below the commands, no empty band.
TEST_F(MenuBar, RowsChangedWhileClosedAreMeasuredAgainOnOpening) {
    std::vector<SyncJob> jobs;
    for (int i = 0; i < 7; ++i) jobs.push_back(namedJob("Job " + std::to_string(i)));
    fake.setJobs({jobs[0], jobs[1]});
    auto content = make();
    const int two = content->height();
    fake.setJobs(jobs);
    settle();
    const int seven = content->height();
    fake.setJobs({jobs[0], jobs[1]});
    settle();
    content->setHeightLimit((two + seven) / 2);
    settle();
    QScrollArea* scroll = content->rowScroll();

    const auto open = [&](std::vector<SyncJob> shown) {
        content->hide();
        fake.setJobs(std::move(shown));
        for (const SyncJob& job : fake.jobs()) fake.setStatus(job.id, running());
        content->show();
        settle();
    };
    for (int round = 0; round < 2; ++round) {
        open(jobs);
        EXPECT_LE(content->height(), (two + seven) / 2);
        EXPECT_TRUE(scroll->verticalScrollBar()->isVisible()) << "the last rows are reachable";
        open({jobs[0], jobs[1]});
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
        EXPECT_EQ(scroll->height(), scroll->widget()->sizeHint().height()) << "no empty band";
        EXPECT_EQ(content->height(), two);
    }

    // Once fitted, an open popup lays its rows out no more: a fit that asked
    // for another layout would spin for as long as the popup stays open.
    struct LayoutRequests : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::LayoutRequest) ++count;
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
