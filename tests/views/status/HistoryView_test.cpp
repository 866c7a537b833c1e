#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/HistoryView.h"
#include "Kelto_Sync/internal/FittingBox.h"
#include "Kelto_Sync/internal/HistoryRow.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/views/status/StatusFixtures.h"
#include <stdexcept>

namespace kelto {
namespace {

struct HistoryHarness : ViewHarness {
    std::vector<RunRecord> stored;
    HistoryHarness() { fake.historySource = [this](const Uuid&) { return stored; }; }
    std::unique_ptr<HistoryView> view(std::optional<int> limit, StatusViewActions actions = {}) {
        auto made = std::make_unique<HistoryView>(adapter, job.id, limit, SyncStrings::application(),
                                                  std::move(actions), clock);
        made->setLocale(english);
        settle();
        return made;
    }
};

QList<HistoryRow*> rows(const HistoryView& view) { return view.findChildren<HistoryRow*>(); }

TEST(HistoryView, ShowsNeverRunThenTheLimitedOrFullListWithCountsInTheFormOfTheirNumber) {
    HistoryHarness h;
    auto empty = h.view(3);
    EXPECT_TRUE(shown(*empty, "empty") && rows(*empty).isEmpty());
    for (int i = 0; i < 10; ++i) h.stored.push_back(record(h.job, i));
    for (int count : {1, 2}) h.stored[count - 1].stats.filesCopied = h.stored[count - 1].stats.filesArchived = count;
    auto recent = h.view(3);
    ASSERT_EQ(rows(*recent).size(), 3);
    EXPECT_FALSE(shown(*recent, "empty"));
    EXPECT_EQ(textOf(*rows(*recent)[0], "endTime"), DisplayFormat::dateTime(h.stored[0].endedAt, english));
    auto all = h.view(std::nullopt);
    ASSERT_EQ(rows(*all).size(), 10);
    EXPECT_EQ(textOf(*rows(*all)[0], "endTime"), DisplayFormat::relative(h.stored[0].endedAt, h.clock.now(), english));
    // Counts take the form of their number.
    EXPECT_TRUE(textOf(*rows(*all)[0], "copied").startsWith("Copied: 1 file, "));
    EXPECT_EQ(textOf(*rows(*all)[0], "archived"), "Archived: 1 file");
    EXPECT_EQ(textOf(*rows(*all)[1], "archived"), "Archived: 2 files");
    auto none = h.view(0);
    EXPECT_TRUE(rows(*none).isEmpty() && !shown(*none, "empty"));
}

TEST(HistoryView, AFailedLoadShowsItsErrorKeepsTheRowsAndReloadsOncePerNewRecord) {
    HistoryHarness h;
    bool failing = true;
    h.fake.historySource = [&](const Uuid&) -> std::vector<RunRecord> {
        if (failing) throw std::runtime_error("The history cannot be read.");
        return h.stored;
    };
    auto view = h.view(3);
    EXPECT_EQ(textOf(*view, "error"), QStringLiteral("The history cannot be read."));
    EXPECT_FALSE(shown(*view, "empty")) << "the job may well have run";
    failing = false;
    h.stored = {record(h.job, 0), record(h.job, 1)};
    h.fake.setLastRecord(h.stored[0]);
    settle();
    EXPECT_FALSE(shown(*view, "error"));
    failing = true;
    const RunRecord last = record(h.job, 2);
    h.fake.setLastRecord(last);
    settle();
    EXPECT_TRUE(shown(*view, "error") && rows(*view).size() == 2);
    // One read per new record of its job: not for another job's, nor one told again; one for two in a row.
    failing = false;
    const int reads = h.fake.historyCalls;
    h.fake.setLastRecord(record(sampleJob(), 0));
    h.fake.setLastRecord(last);
    settle();
    EXPECT_EQ(h.fake.historyCalls, reads);
    h.fake.setLastRecord(record(h.job, 3));
    h.fake.setLastRecord(record(h.job, 4));
    settle();
    EXPECT_EQ(h.fake.historyCalls, reads + 1);
}

// A run's failure is also stored among its errors: the details say each text once, however it is spelled. A log no
// file manager shows is said so under its button and named in an alert.
TEST(HistoryView, DetailsFollowTheOutcomeSayingEachTextOnce) {
    HistoryHarness h;
    RunRecord failed = record(h.job, 0, RunOutcome::failed("The disk is full."));
    failed.stats.skipped = {{"Big/movie.mkv", FileSkipReason::tooLargeForFAT}};
    failed.stats.errors = {"open a: Operation not permitted", "The disk is full.", "open b: Operation not permitted"};
    failed.logPath = "/home/ann/.local/state/kelto/logs/run.log";
    RunRecord skipped = record(h.job, 1, RunOutcome::skipped(SkipReason::onBattery));
    skipped.stats.errors = {"open c: operation not permitted"};
    RunRecord review = record(h.job, 2, RunOutcome::needsReview("Caf\u00e9 would lose 40 files."));
    review.stats.errors = {"Cafe\u0301 would lose 40 files."};
    RunRecord fine = record(h.job, 3);
    fine.stats.errors = {"open d: Operation not permitted"};
    h.stored = {failed, skipped, review, fine};
    int grants = 0;
    bool logShown = true;
    QStringList revealed;
    StatusViewActions actions;
    actions.grantFullDiskAccess = [&] { ++grants; };
    actions.reveal = [&](const QString& path, StatusViewActions::Shown shown) { revealed << path, shown(logShown); };
    auto view = h.view(std::nullopt, actions);
    view->show();
    const auto shownRows = rows(*view);
    ASSERT_EQ(shownRows.size(), 4);
    auto* row = shownRows[0];
    EXPECT_FALSE(shown(*row, "details"));
    auto* disclosure = child(*row, "disclosure");
    const auto closedLook = DrawnPanels::of(*disclosure);
    QTest::mouseClick(disclosure, Qt::LeftButton);
    EXPECT_EQ(DrawnPanels::of(*disclosure), closedLook) << "one look open or closed";
    EXPECT_TRUE(shown(*row, "details"));
    EXPECT_EQ(textOf(*row, "failure"), QStringLiteral("The disk is full."));
    EXPECT_TRUE(textOf(*row, "skippedFile").startsWith(QStringLiteral("Big/movie.mkv")));
    EXPECT_EQ(row->findChildren<QPushButton*>(QStringLiteral("grantFullDiskAccess")).size(), 1);
    click(*row, "grantFullDiskAccess");
    click(*row, "showLog");
    EXPECT_EQ(grants, 1);
    EXPECT_EQ(revealed, QStringList{QString::fromStdString(*failed.logPath)});
    EXPECT_FALSE(shown(*row, "showLogFailed"));
    EXPECT_EQ(textOf(*shownRows[1], "skipReason"), QStringLiteral("Running on battery"));
    EXPECT_TRUE(button(*shownRows[1], "grantFullDiskAccess") == nullptr && button(*shownRows[1], "showLog") == nullptr)
        << "a permission error in lower case, no log";
    EXPECT_EQ(textOf(*shownRows[2], "review"), QStringLiteral("Caf\u00e9 would lose 40 files."));
    const auto count = [](const QWidget& row, const QString& text) {
        const auto labels = row.findChildren<QLabel*>();
        return std::count_if(labels.begin(), labels.end(), [&](const QLabel* label) {
            return label->text().normalized(QString::NormalizationForm_C) == text.normalized(QString::NormalizationForm_C);
        });
    };
    for (const auto& [row, text] : {std::pair{0, "The disk is full."}, std::pair{0, "open a: Operation not permitted"},
                                    std::pair{2, "Caf\u00e9 would lose 40 files."}})
        EXPECT_EQ(count(*shownRows[row], QString::fromUtf8(text)), 1) << text;
    for (const char* name : {"failure", "skipReason", "review"})
        EXPECT_EQ(child<QLabel>(*shownRows[3], name), nullptr) << name;
    EXPECT_EQ(button(*h.view(std::nullopt), "grantFullDiskAccess"), nullptr) << "the host gives no grant action";
    {
        SCOPED_TRACE("ALogNoFileManagerShowsSaysSoUnderItsButtonAndNamesItInAnAlert");
        logShown = false;
        click(*row, "showLog");
        EXPECT_TRUE(shown(*row, "showLogFailed"));
        const RevealAlerts alerts = takeRevealAlerts();
        EXPECT_EQ(alerts.paths, QStringList{QString::fromStdString(*failed.logPath)});
        EXPECT_TRUE(alerts.selectable);
        logShown = true;
        click(*row, "showLog");
        EXPECT_FALSE(shown(*row, "showLogFailed"));
    }
}

// What a caption shows, not only what it decided: the end time beside the trigger, or below it.
bool placedSideBySide(const FittingBox& caption) {
    const auto* trigger = caption.findChild<QLabel*>(QStringLiteral("trigger"));
    const auto* end = caption.findChild<QLabel*>(QStringLiteral("endTime"));
    const bool beside = end->x() > trigger->geometry().right() && end->y() == trigger->y();
    EXPECT_EQ(beside, !caption.stacked());
    return beside;
}

// Rows made while shown place their captions for the width they end up with, and stack them when it narrows.
TEST(HistoryView, EveryCaptionFitsSideBySideAtFullWidthAndStacksWhenNarrow) {
    HistoryHarness h;
    h.stored = {record(h.job, 0), record(h.job, 1, RunOutcome::completedWithWarnings()), record(h.job, 2)};
    QWidget host;  // not a window, so the view can be made narrower than its layout wants
    host.resize(560, 400);
    auto* view = new HistoryView(h.adapter, h.job.id, 3, SyncStrings::application(), {}, h.clock, &host);
    view->setLocale(english);
    view->resize(560, 400);
    host.show();
    settle();
    const QList<FittingBox*> captions = view->findChildren<FittingBox*>(QStringLiteral("caption"));
    ASSERT_EQ(captions.size(), 3);
    for (const int width : {560, 120, 560}) {
        view->resize(width, 400);
        settle();
        for (int i = 0; i < captions.size(); ++i) EXPECT_EQ(placedSideBySide(*captions[i]), width > 120) << i;
    }
}

}  // namespace
}  // namespace kelto
