#include "FenraCore/FenraLabel.h"
#include "FenraCore/FenraTheme.h"
#include "Kelto_Sync/DisplayFormat.h"
#include "Kelto_Sync/JobOverviewView.h"
#include "Kelto_Sync/ProgressPanel.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QAccessible>
#include <QDialog>

namespace kelto {
namespace {

struct OverviewHarness : ViewHarness {
    int previews = 0;
    std::unique_ptr<JobOverviewView> view() {
        auto made = std::make_unique<JobOverviewView>(adapter, job, SyncStrings::application(), [this] { ++previews; },
                                                      JobOverviewView::Parts{}, StatusViewActions{}, clock);
        made->setLocale(english);
        made->setJob(job);
        return made;
    }
};

TEST(JobOverviewView, ButtonsFollowTheEnablingTableAndRowsReadOutWhole) {
    OverviewHarness h;
    auto view = h.view();
    struct Row {
        const char* situation;
        std::optional<RunStatus> status;
        bool dirty, previewing, syncNow, preview, stop;
        const char* extra;
    };
    const Row table[] = {
        {"idle", std::nullopt, false, false, true, true, false, nullptr},
        {"dirty", std::nullopt, true, false, false, false, false, "saveFirst"},
        {"previewing", std::nullopt, false, true, true, false, false, "preparing"},
        {"queued", RunStatus::queued(), false, false, false, false, true, "runStatus"},
        {"running", running(SyncPhase::transferring), false, false, false, false, true, nullptr},
        {"awaiting", RunStatus::awaitingConfirmation(SyncPlan{}), false, false, false, false, true, "runStatus"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.situation);
        h.fake.setStatus(h.job.id, row.status);
        view->setDirty(row.dirty);
        view->setPreviewing(row.previewing);
        EXPECT_EQ(button(*view, "syncNow")->isEnabled(), row.syncNow);
        EXPECT_EQ(button(*view, "preview")->isEnabled(), row.preview);
        EXPECT_EQ(button(*view, "stop")->isVisibleTo(view.get()), row.stop);
        for (const char* extra : {"saveFirst", "preparing", "runStatus"})
            EXPECT_EQ(shown(*view, extra), row.extra != nullptr && std::string(row.extra) == extra) << extra;
        auto* panel = view->findChild<ProgressPanel*>();
        EXPECT_EQ(panel != nullptr, row.status && row.status->kind() == RunStatus::Kind::running);
        EXPECT_FALSE(panel != nullptr && panel->findChild<QWidget*>(QStringLiteral("stop")) != nullptr);
    }
    h.fake.setStatus(h.job.id, RunStatus::queued());
    view->setPreviewing(false);
    click(*view, "stop");
    EXPECT_EQ(h.fake.cancelCalls, std::vector<Uuid>{h.job.id});
    h.fake.setStatus(h.job.id, std::nullopt);
    click(*view, "syncNow");
    click(*view, "preview");
    EXPECT_EQ(h.fake.runNowCalls, std::vector<Uuid>{h.job.id});
    EXPECT_EQ(h.previews, 1);
    // The archive warning under a mode that replaces files with the archive off; the last run's figures; the full
    // path in the column's tool tip; rows read out whole; the history sheet; the next run, by the scheduler or by the
    // volumes whose connecting starts it.
    SCOPED_TRACE("RowsReadOutWholeAndTellTheNextRun");
    EXPECT_FALSE(shown(*view, "archiveOff"));
    const auto element = [&](const char* name) { return QAccessible::queryAccessibleInterface(child(*view, name)); };
    EXPECT_EQ(element("source")->text(QAccessible::Name), "Source (A), Pictures");
    for (const char* name : {"modeRow", "source", "destination"}) EXPECT_EQ(element(name)->childCount(), 0) << name;
    h.job.options.archiveEnabled = false;
    for (SyncMode mode : {SyncMode::mirror, SyncMode::twoWay, SyncMode::copy}) {
        h.job.mode = mode;
        view->setJob(h.job);
        EXPECT_EQ(shown(*view, "archiveOff"), mode != SyncMode::copy) << enumName(mode);
    }
    h.fake.setLastRecord(record(h.job, 0));
    EXPECT_FALSE(shown(*view, "neverRun"));
    EXPECT_EQ(textOf(*view, "filesCopied"), "12 files copied");
    EXPECT_EQ(child(*view, "destination")->toolTip(), QString::fromStdString(h.job.destination.path));
    view->show();
    click(*view, "showAllHistory");
    auto* sheet = child<QDialog>(*view, "historySheet");
    ASSERT_TRUE(sheet != nullptr && sheet->isVisible());
    EXPECT_EQ(sheet->windowTitle(), "History") << "not the application's name alone";
    QTest::keyClick(sheet, Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible());
    SCOPED_TRACE("the next run");
    EXPECT_FALSE(shown(*view, "nextConnect"));
    h.job.isEnabled = false;
    view->setJob(h.job);
    EXPECT_TRUE(shown(*view, "paused") && button(*view, "syncNow")->isEnabled());
    EXPECT_FALSE(shown(*view, "nextFire"));
    // On connect alone: the volumes as the columns name them; the unlabelled root ("/") is waited for by nothing.
    h.job.isEnabled = true;
    h.job.triggers = {Trigger::onConnect(ConnectAction::run)};
    const struct {
        Endpoint source, destination;
        const char* shown;
    } cases[] = {
        {h.job.source, h.job.destination, "Next: when Backup is connected"},
        {endpoint("/media/ann/Stick/Docs", VolumeKind::removable, "Stick"),
         endpoint("/mnt/nas/Docs", VolumeKind::network, "NAS"), "Next: when Stick, NAS is connected"},
        {endpoint("/media/ann/Stick/Docs", VolumeKind::removable, "Stick"),
         endpoint("/media/ann/Stick/Copy", VolumeKind::removable, "Stick"), "Next: when Stick, Stick is connected"},
        {endpoint("/home/ann/a", VolumeKind::internal, "Home"), endpoint("/home/ann/b", VolumeKind::internal, "Data"),
         "Next: when Data is connected"},
        {endpoint("/home/ann/a", VolumeKind::internal, "/"), endpoint("/srv/b", VolumeKind::internal, "/"), nullptr},
        {endpoint("/home/ann/a", VolumeKind::internal, "/"),
         endpoint("/media/ann/Stick/b", VolumeKind::removable, "Stick"), "Next: when Stick is connected"},
    };
    for (const auto& c : cases) {
        h.job.source = c.source;
        h.job.destination = c.destination;
        view->setJob(h.job);
        EXPECT_EQ(shown(*view, "nextConnect"), c.shown != nullptr) << textOf(*view, "nextConnect").toStdString();
        if (c.shown != nullptr) { EXPECT_EQ(textOf(*view, "nextConnect"), c.shown); }
        EXPECT_FALSE(shown(*view, "nextFire"));
    }
    h.job.triggers.push_back(Trigger::daily({9, 0}));
    view->setJob(h.job);
    EXPECT_FALSE(shown(*view, "nextFire"));
    // The next run follows the scheduler's notice.
    const Date fire = Date::fromUnix(1'700'010'000.0);
    h.fake.setFireDate(h.job.id, fire);
    EXPECT_EQ(textOf(*view, "nextFire"), "Next: " + DisplayFormat::dateTime(fire, english));
    EXPECT_TRUE(shown(*view, "nextConnect"));
}

// Each column as wide as its texts; a folder name of two lines at most; no volume line for an unlabelled root;
// the outcome's colour on its icon only.
TEST(JobOverviewView, EndpointsAndLastRunKeepTheirPlaces) {
    OverviewHarness h;
    h.job.source = endpoint("/home/ann/Pictures", VolumeKind::internal, "/");
    std::string longName;
    for (int i = 0; i < 12; ++i) longName += "a rather long folder name ";
    h.job.destination = endpoint("/media/ann/Backup/" + longName + "end", VolumeKind::removable, "Backup");
    h.fake.setJobs({h.job});
    h.fake.setLastRecord(record(h.job, 0, RunOutcome::completedWithWarnings()));
    auto view = h.view();
    view->setPalette(WidgetRender::lightPalette());
    view->resize(560, 700);
    view->show();
    settle();
    const auto* source = view->findChild<QWidget*>(QStringLiteral("source"));
    const auto* destination = view->findChild<QWidget*>(QStringLiteral("destination"));
    EXPECT_LE(destination->x() - (source->x() + source->width()), 12 + 32 + 12);
    EXPECT_FALSE(source->findChild<QLabel*>(QStringLiteral("volume"))->isVisibleTo(source));
    EXPECT_TRUE(destination->findChild<QLabel*>(QStringLiteral("volume"))->isVisibleTo(destination));
    const auto* folder = destination->findChild<FenraLabel*>(QStringLiteral("folder"));
    EXPECT_TRUE(folder->shownTitle().endsWith(QChar(0x2026))) << folder->shownTitle().toStdString();
    EXPECT_LE(folder->height(), 2 * folder->fontMetrics().lineSpacing() + 2);
    const auto* outcome = view->findChild<QWidget*>(QStringLiteral("lastRun"))->findChild<FenraLabel*>("outcome");
    QList<QLabel*> labels = outcome->findChildren<QLabel*>();
    const QColor secondary = FenraTheme::textSecondary().color(ColorScheme::light);
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
        return !label->text().isEmpty() && label->palette().color(QPalette::WindowText) == secondary;
    })) << "the title is secondary";
    // With room, the columns line up and a long folder name takes one line whichever side names a volume.
    const std::string name = "A very long folder name that goes on for a while";
    for (const bool sourceHasVolume : {false, true}) {
        SCOPED_TRACE(sourceHasVolume ? "volume beside the source" : "volume beside the destination");
        OverviewHarness o;
        o.job.source = endpoint("/home/ann/" + name, VolumeKind::internal, sourceHasVolume ? "Home" : "/");
        o.job.destination = endpoint("/media/ann/Backup/Copy", VolumeKind::removable, sourceHasVolume ? "" : "Backup");
        o.fake.setJobs({o.job});
        auto wide = o.view();
        wide->resize(900, 700);
        wide->show();
        settle();
        const auto top = [&](const char* side, const char* part) {
            return wide->findChild<QWidget*>(side)->findChild<QWidget*>(part)->mapTo(wide.get(), QPoint(0, 0)).y();
        };
        EXPECT_EQ(top("source", "label"), top("destination", "label"));
        EXPECT_EQ(top("source", "folder"), top("destination", "folder"));
        const auto* one = wide->findChild<QWidget*>(QStringLiteral("source"))->findChild<FenraLabel*>("folder");
        EXPECT_EQ(one->shownTitle(), one->title());
        EXPECT_LT(one->height(), 2 * one->fontMetrics().lineSpacing()) << "one line";
    }
}

}  // namespace
}  // namespace kelto
