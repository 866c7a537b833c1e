// The run-status widgets of the job list and the tray's picture and popup.
#include "FenraCore/BusyIndicator.h"
#include "FenraCore/Contrast.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraStyle.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/LinearProgressBar.h"
#include "FenraCore/WindowPlacement.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/Status/JobRunButton.h"
#include "Kelto_Sync/Status/JobStatusSlot.h"
#include "Kelto_Sync/Status/MenuBarIconRule.h"
#include "Kelto_Sync/Status/RunStatusView.h"
#include "Kelto_Sync/Status/TrayIconImage.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "Kelto_Sync/Tray/MenuBarJobRow.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <cmath>
#include <filesystem>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace kelto {
namespace {

// A live run reaches the slot phase by phase, and ends looking as a slot made for the copy.
TEST(JobStatusSlotTest, ALiveRunShowsItsPercentageLikeAFreshSlotAndABarWhileCopyingWithAKnownTotal) {
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
    EXPECT_TRUE(shown(*live, "runStatusText") && textOf(*live, "runStatusText") == "42%");
    for (const char* part : {"runStatusText", "runStatusBar"})
        EXPECT_EQ(child(*live, part)->geometry(), child(*fresh, part)->geometry()) << part;
    SCOPED_TRACE("CaptionGlyphAndColourByPriority");
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
    SCOPED_TRACE("CaptionsInTheCaptionFont, the status's and the editor's notes");
    const int captionPixels = QFontInfo(FenraFont::font(FontRole::caption)).pixelSize();
    ASSERT_LT(captionPixels, QFontInfo(QApplication::font()).pixelSize());
    const auto inCaptionFont = [&](const QWidget& root, const QString& text) {
        const QLabel* label = labelWith(root, text);
        return label != nullptr && QFontInfo(label->font()).pixelSize() == captionPixels;
    };
    slot.setLocale(english);
    struct Shown { bool enabled; std::optional<RunOutcome> outcome; QString text; };
    for (const Shown& c : {Shown{true, RunOutcome::success(), "Success"}, Shown{true, std::nullopt, "Never run"},
                          Shown{false, std::nullopt, "Paused"}}) {
        slot.setValues(std::nullopt, c.enabled, c.outcome);
        EXPECT_TRUE(inCaptionFont(slot, c.text)) << c.text.toStdString();
    }
    SimpleWhenSection when(SyncStrings{}, [](const SyncJob&) {});
    SyncJob weekly;
    weekly.triggers = {Trigger::weekly({}, TimeOfDay{9, 0})};
    when.setJob(weekly);
    for (const char* note : {"Sync now is always available.", "Choose at least one weekday."})
        EXPECT_TRUE(inCaptionFont(when, QString::fromUtf8(note))) << note;
    slot.setValues(std::nullopt, true, RunOutcome::completedWithErrors());
    EXPECT_EQ(glyph->property("tint").value<QColor>(), FenraTheme::error().color(slot.palette()));
    slot.setValues(std::nullopt, false, RunOutcome::success());
    EXPECT_FALSE(slot.toolTip().isEmpty()) << "paused: says manual runs still work";
    EXPECT_EQ(slot.statusView(), nullptr);
    slot.setValues(running(SyncPhase::transferring, 0.5), false, std::nullopt);
    ASSERT_NE(slot.statusView(), nullptr);
    EXPECT_EQ(slot.caption(), "50%");
    EXPECT_TRUE(slot.toolTip().isEmpty());
    SCOPED_TRACE("ABarWhileCopyingWithAKnownTotalElseTheStatusText");
    QWidget list;
    list.setPalette(WidgetRender::darkPalette());
    list.setBackgroundRole(QPalette::Base);
    list.setAutoFillBackground(true);
    auto* lines = new QVBoxLayout(&list);
    auto* view = new RunStatusView(running(SyncPhase::transferring, 0.25), SyncStrings{}, &list);
    lines->addWidget(view);
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
    EXPECT_EQ(bar->height(), LinearProgressBar::thickness);
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
        EXPECT_EQ(child<BusyIndicator>(*view, "runStatusSpinner")->isTurning(), c.spinner) << "hidden, it rests";
    }
    EXPECT_TRUE(inCaptionFont(*view, QStringLiteral("Queued")));
}

std::size_t threadCount() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
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
    fake.warning = false;
    fake.stream.lock()->push(VolumeEvent::mounted("/media/ann/Backup"));
    QTRY_COMPARE(fake.pending.size(), 1u);
    fake.runAll();
    EXPECT_FALSE(dot->requiresWarning());
    EXPECT_EQ(dot->width(), 0);
    // Two overlap; the older one, released last, read the volumes before the newer one and is dropped.
    dot->setJob(sampleJob());
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
    SCOPED_TRACE("AHundredShownDotsOfTheSystemShareTheirThreads");
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

QColor ink(const TrayIconImage& tray) { return iconInk(tray.icon(), QSize(44, 44)); }

TEST(TrayIconImageTest, FollowsTheModelRedrawsOnlyWhenTheDrawingChangesInTheDesktopsLook) {
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
    tray.setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(changed.count(), 4);
    EXPECT_EQ(ink(tray), WidgetRender::darkPalette().color(QPalette::WindowText));
    tray.setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(changed.count(), 4);
    // Drawn for the panel in the desktop's look, whatever the application's windows show, in either order.
    SCOPED_TRACE("TheDesktopsLookDecidesTheInkNeverTheApplicationsOwn");
    const QPalette before = QGuiApplication::palette();
    const QColor darkInk = FenraStyle::palette(ColorScheme::light).color(QPalette::WindowText);
    const QColor lightInk = FenraStyle::palette(ColorScheme::dark).color(QPalette::WindowText);
    QGuiApplication::setPalette(WidgetRender::darkPalette());
    TrayIconImage schemeFirst, schemeLast;
    schemeFirst.setScheme(ColorScheme::light);
    schemeFirst.follow(model);
    schemeLast.follow(model);
    schemeLast.setScheme(ColorScheme::light);
    EXPECT_TRUE(ink(schemeFirst) == darkInk && ink(schemeLast) == darkInk);
    QSignalSpy redrawn(&schemeFirst, &TrayIconImage::iconChanged);
    QGuiApplication::setPalette(WidgetRender::lightPalette());
    QGuiApplication::setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(redrawn.count(), 0) << "the application's look is not the panel's";
    EXPECT_EQ(ink(schemeFirst), darkInk);
    schemeFirst.setScheme(ColorScheme::dark);
    EXPECT_EQ(ink(schemeFirst), lightInk);
    QGuiApplication::setPalette(before);
    SCOPED_TRACE("MenuBarIconRuleTest.FirstMatchingRuleGivesTheState");
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
    static std::vector<bool> markers(const MenuBarContent& content) {
        std::vector<bool> marked;
        for (const MenuBarJobRow* row : content.rows()) marked.push_back(row->isMarked());
        return marked;
    }
};

TEST_F(MenuBar, CommandsRowsQueuedCountMarkersAndTheThirdLineFollowTheModel) {
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
    auto bare = make(false);
    for (QPushButton* button : commands(*bare)) EXPECT_FALSE(button->isVisibleTo(bare.get()));
    EXPECT_TRUE(bare->syncAllButton()->isVisibleTo(bare.get()));
    SCOPED_TRACE("QueuedCountAndRunningMarkerFollowTheStatuses");
    const std::vector<SyncJob> jobs = jobsNamed(4);
    fake.setJobs(jobs);
    fake.setStatus(jobs[0].id, running());
    fake.setStatus(jobs[1].id, RunStatus::queued());
    fake.setStatus(jobs[2].id, RunStatus::queued());
    fake.setStatus(jobs[3].id, RunStatus::awaitingConfirmation({}));  // neither queued nor running
    EXPECT_EQ(textOf(*content, "queuedCount"), "Queued: 2");
    EXPECT_EQ(markers(*content), (std::vector<bool>{true, false, false, false}));
    fake.setStatus(jobs[0].id, std::nullopt);
    fake.setStatus(jobs[1].id, running());
    EXPECT_EQ(markers(*content), (std::vector<bool>{false, true, false, false}));
    SCOPED_TRACE("TheRunningCardsCornerIsFoldedWithinItsOutline");
    // Above the fold the card is cut away rather than rounded behind the flap; right to left, at the top left.
    for (const auto direction : {Qt::RightToLeft, Qt::LeftToRight}) {
        SCOPED_TRACE(direction == Qt::LeftToRight ? "left to right" : "right to left");
        content->setLayoutDirection(direction);
        settle();
        MenuBarJobRow* marked = content->rows()[1];
        MenuBarJobRow* plain = content->rows()[0];
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
    EXPECT_EQ(textOf(*content, "queuedCount"), "Queued: 1");
    fake.setStatus(jobs[2].id, std::nullopt);
    EXPECT_FALSE(shown(*content, "queuedCount"));
    fake.setJobs({jobs[3], jobs[1]});
    ASSERT_EQ(markers(*content), (std::vector<bool>{false, true}));
    EXPECT_EQ(content->rows().front()->job().id, jobs[3].id);
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
    SCOPED_TRACE("ThirdLineNextRunFollowingTheSchedulerElseTheLastRunElseBlank");
    const Date fire = Date::fromUnix(1'700'050'000.0);
    std::vector<SyncJob> four = jobsNamed(4);  // scheduled, paused with history, paused never run, manual only
    four[1].isEnabled = four[2].isEnabled = false;
    fake.fireDates = {{four[1].id, fire}, {four[2].id, fire}};
    fake.setJobs(four);
    fake.setLastRecord(record(four[0], 0));
    fake.setLastRecord(record(four[1], 0));
    for (const Date at : {fire, fire.adding(3600)}) {
        fake.setFireDate(four[0].id, at);
        EXPECT_EQ(textOf(*rows[0], "nextRunTime"), DisplayFormat::time(at, english));
    }
    EXPECT_FALSE(shown(*rows[0], "lastRunEnded"));
    EXPECT_EQ(rows[1]->whenText(), "2 hours ago") << "paused: the last run instead";
    EXPECT_FALSE(shown(*rows[1], "nextRunTitle"));
    for (const MenuBarJobRow* blank : {rows[2], rows[3]})
        EXPECT_TRUE(blank->whenText().isEmpty() && shown(*blank, "blankLine")) << blank->job().name;
    fake.setLastRecord(record(four[3], 0, RunOutcome::failed("x")));
    EXPECT_EQ(rows[3]->whenText(), "2 hours ago");
    EXPECT_FALSE(shown(*rows[3], "blankLine"));
}

TEST_F(MenuBar, MoreJobsThanTheScreenHoldsScrollTheirRowsAndKeepTheCommandsInside) {
    const std::vector<SyncJob> seven = jobsNamed(7);
    fake.setJobs(seven);
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
    SCOPED_TRACE("SevenJobsOnA1280By800ScreenShowTheRunningJob");
    fake.setStatus(seven[5].id, running());
    const int room = WindowPlacement::roomBeside(QRect(1250, 2, 24, 24), QRect(0, 28, 1280, 772));
    auto beside = make(true, room);
    const auto& rows = beside->rows();
    const int cards = beside->height() - beside->rowScroll()->height() + 7 * MenuBarJobRow::cardHeight + 6 * 12;
    EXPECT_LE(beside->height(), room);
    QScrollArea* scroll = beside->rowScroll();
    const auto inView = [&](const MenuBarJobRow* row) {
        return scroll->viewport()->rect().contains(QRect(row->mapTo(scroll->viewport(), QPoint(0, 0)), row->size()));
    };
    EXPECT_EQ(scroll->verticalScrollBar()->isVisible(), cards > room) << "room " << room << ", every card " << cards;
    for (const MenuBarJobRow* row : rows) EXPECT_TRUE(cards > room || inView(row));
    EXPECT_TRUE(inView(rows[5])) << "the running job is in view";
    SCOPED_TRACE("RowsChangedWhileClosedAreMeasuredAgainOnOpening");
    const std::vector<SyncJob> two{seven[0], seven[1]};
    fake.setJobs(two);
    auto closed = make();
    const int twoHigh = closed->height();
    fake.setJobs(seven);
    settle();
    const int limit = (twoHigh + closed->height()) / 2;
    fake.setJobs(two);
    settle();
    closed->setHeightLimit(limit);
    settle();
    QScrollArea* closedScroll = closed->rowScroll();
    const auto open = [&](const std::vector<SyncJob>& shown) {
        closed->hide();
        fake.setJobs(shown);
        for (const SyncJob& job : fake.jobs()) fake.setStatus(job.id, running());
        closed->show();
        settle();
    };
    for (int round = 0; round < 2; ++round) {
        open(seven);
        EXPECT_LE(closed->height(), limit);
        EXPECT_TRUE(closedScroll->verticalScrollBar()->isVisible()) << "the last rows are reachable";
        open(two);
        EXPECT_FALSE(closedScroll->verticalScrollBar()->isVisible());
        EXPECT_EQ(closedScroll->height(), closedScroll->widget()->sizeHint().height()) << "no empty band";
        EXPECT_EQ(closed->height(), twoHigh);
    }
    // Once fitted, an open popup lays its rows out no more (else it would spin while open).
    struct LayoutRequests : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::LayoutRequest;
            return false;
        }
    } requests;
    closedScroll->widget()->installEventFilter(&requests);
    for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
    EXPECT_EQ(requests.count, 0);
    closedScroll->widget()->removeEventFilter(&requests);
}

}  // namespace
}  // namespace kelto
