#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Notifications/Notifier.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "Kelto_Sync/Tray/TrayPresence.h"
#include "tests/views/support/FakeAppModel.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace kelto {
namespace {

struct FakeCenter : NotificationCenter {
    void add(const NotificationRequest& request) override { posted.push_back(request); }
    void remove(const QString& identifier) override { removed.push_back(identifier); }
    void requestAuthorization(AuthorizationAnswer answer) override { answers.push_back(std::move(answer)); }
    void setResponseHandler(ResponseHandler) override {}
    std::vector<NotificationRequest> posted;
    std::vector<QString> removed;
    std::vector<AuthorizationAnswer> answers;
};

// Stored settings are read back through a fresh object, as a later launch would.
struct NotifierTest : testing::Test {
    void store(const QString& key, const QVariant& value) {
        QSettings(path(), QSettings::IniFormat).setValue(key, value);
        settings_ = std::make_unique<QSettings>(path(), QSettings::IniFormat);
    }
    QString path() const { return folder_.filePath(QStringLiteral("settings.ini")); }
    RunRecord record(RunOutcome outcome, std::vector<std::string> errors = {}) {
        RunRecord r;
        r.id = Uuid::random();
        r.jobID = job.id;
        r.outcome = std::move(outcome);
        r.stats.errors = std::move(errors);
        return r;
    }
    Notifier notifier() { return Notifier(center, *settings_, SyncStrings()); }
    QTemporaryDir folder_;
    std::unique_ptr<QSettings> settings_ = std::make_unique<QSettings>(path(), QSettings::IniFormat);
    FakeCenter center;
    SyncJob job = SyncJob::newJob("Photos");
};

// Only a stored false silences the four kinds; success has its own switch.
TEST_F(NotifierTest, TitlesBodiesIdentifiersTheSwitchesAndAuthorization) {
    Notifier quiet = notifier();
    quiet.notifySuccess(record(RunOutcome::success()), "Photos");
    EXPECT_TRUE(center.posted.empty()) << "success is off by default";
    store(Notifier::successKey, true);
    Notifier titled = notifier();
    const QString jobText = QString::fromStdString(job.id.string());
    EXPECT_EQ(jobText, jobText.toUpper());
    const RunRecord done = record(RunOutcome::success());
    const RunRecord failed = record(RunOutcome::failed("disk full"), {"first", "second"});
    const std::string readOnly = "The destination volume is read-only.";
    titled.notifySuccess(done, "Photos");
    titled.notifyProblem(failed, "Photos");
    titled.notifyProblem(record(RunOutcome::completedWithErrors()), "Photos");
    titled.notifyProblem(record(RunOutcome::interrupted()), "Photos");
    titled.notifyReviewNeeded(job.id, "Photos", "Many deletions");
    titled.askToSync(job);
    titled.notifyProblem(record(RunOutcome::failed(readOnly), {readOnly}), "Photos");
    titled.notifyProblem(record(RunOutcome::failed(readOnly), {"first", readOnly}), "Photos");
    titled.notifyProblem(record(RunOutcome::completedWithErrors(), {readOnly}), "Photos");
    ASSERT_EQ(center.posted.size(), 9u);
    const auto id = [](const RunRecord& r) { return QString::fromStdString(r.id.string()); };
    EXPECT_EQ(center.posted[0], (NotificationRequest{id(done), "Sync completed", "Photos", "", jobText, {}}));
    EXPECT_EQ(center.posted[1],
              (NotificationRequest{id(failed), "Sync failed", "Photos\ndisk full\nsecond", "", jobText, {}}));
    EXPECT_EQ(center.posted[2].title + center.posted[2].body, "Completed with errorsPhotos");
    EXPECT_EQ(center.posted[3].title + center.posted[3].body, "Sync failedPhotos");
    EXPECT_EQ(center.posted[4],
              (NotificationRequest{"review-" + jobText, "Review needed", "Photos\nMany deletions", "", jobText, {}}));
    EXPECT_EQ(center.posted[5], (NotificationRequest{"ask-" + jobText, "Sync connected device?", "Photos", "SYNC_ASK",
                                                     jobText, {{"SYNC_NOW", "Sync now"}, {"SKIP", "Skip"}}}));
    EXPECT_EQ(center.posted[6].body, "Photos\nThe destination volume is read-only.");
    EXPECT_EQ(center.posted[7].body, "Photos\nThe destination volume is read-only.\nfirst");
    EXPECT_EQ(center.posted[8].body, "Photos\nThe destination volume is read-only.");
    for (const auto& [enabled, posts] : {std::pair{QVariant(), 4u}, std::pair{QVariant(true), 4u},
                                         std::pair{QVariant(false), 0u}, std::pair{QVariant("yes"), 4u}}) {
        SCOPED_TRACE(enabled.toString().toStdString());
        if (enabled.isValid()) store(Notifier::enabledKey, enabled);
        center.posted.clear();
        Notifier n = notifier();
        n.notifyProblem(record(RunOutcome::failed("disk full")), "Photos");
        n.notifySuccess(record(RunOutcome::success()), "Photos");
        n.notifyReviewNeeded(job.id, "Photos", "Many deletions");
        n.askToSync(job);
        EXPECT_EQ(center.posted.size(), posts);
    }
    Notifier n = notifier();
    std::vector<Result<bool>> results;
    for (int i = 0; i < 2; ++i) n.requestAuthorization([&](Result<bool> r) { results.push_back(std::move(r)); });
    ASSERT_EQ(center.answers.size(), 2u);
    center.answers[0](true, nullptr);
    center.answers[1](false, std::make_exception_ptr(std::runtime_error("refused")));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[0].get());
    EXPECT_THROW(results[1].get(), std::runtime_error);
}

TEST_F(NotifierTest, ANoticeIsWithdrawnOnceItsSubjectIsSettled) {
    SyncJob mail = SyncJob::newJob("Mail"), docs = SyncJob::newJob("Docs");
    FakeAppModel model;
    model.setJobs({job, mail, docs});
    const auto id = [](const char* prefix, const SyncJob& j) { return prefix + QString::fromStdString(j.id.string()); };
    const auto parked = [] { return RunStatus::awaitingConfirmation(SyncPlan{}); };
    Notifier n = notifier();
    n.follow(&model);
    // Posted before its run shows as parked, as the record may come first.
    n.notifyReviewNeeded(job.id, "Photos", "Many deletions");
    model.setStatus(job.id, parked());
    model.setStatus(mail.id, parked());
    n.notifyReviewNeeded(mail.id, "Mail", "Many deletions");
    n.askToSync(docs);
    const RunRecord failed = record(RunOutcome::failed("disk full"));
    n.notifyProblem(failed, "Photos");
    EXPECT_TRUE(center.removed.empty());
    model.setStatus(job.id, RunStatus::queued());  // Continue
    EXPECT_EQ(center.removed, std::vector<QString>{id("review-", job)});
    model.setStatus(mail.id, std::nullopt);  // Cancel
    EXPECT_EQ(center.removed.back(), id("review-", mail));
    docs.isEnabled = false;
    model.setJobs({job, mail, docs});
    EXPECT_EQ(center.removed.back(), id("ask-", docs));
    n.askToSync(mail);
    model.setStatus(mail.id, RunStatus::queued());  // Sync now
    EXPECT_EQ(center.removed.back(), id("ask-", mail));
    model.setStatus(mail.id, std::nullopt);
    n.askToSync(mail);
    n.withdrawAsk(job.id);  // none shown
    n.withdrawAsk(mail.id);  // its drive went away
    EXPECT_EQ(center.removed.back(), id("ask-", mail));
    EXPECT_EQ(center.removed.end()[-2], id("ask-", mail));
    model.setStatus(mail.id, RunStatus::queued());
    docs.isEnabled = true;
    model.setJobs({job, mail, docs});
    n.notifyReviewNeeded(docs.id, "Docs", "Many deletions");
    EXPECT_EQ(center.removed.back(), id("ask-", mail));
    model.setJobs({job, mail});
    EXPECT_EQ(center.removed.back(), id("review-", docs)) << "its job deleted";
    model.setStatus(job.id, parked());
    n.notifyReviewNeeded(job.id, "Photos", "Many deletions");
    SyncJob paused = job;
    paused.isEnabled = false;
    model.setJobs({paused, mail});
    EXPECT_EQ(center.removed.back(), id("review-", job)) << "its job paused";
    model.setJobs({job, mail});
    model.setStatus(mail.id, parked());
    n.notifyReviewNeeded(mail.id, "Mail", "Many deletions");
    model.setStatus(job.id, std::nullopt);
    n.askToSync(job);
    const std::size_t before = center.removed.size();
    n.withdrawQuestions();
    EXPECT_EQ(std::vector<QString>(center.removed.begin() + long(before), center.removed.end()),
              (std::vector<QString>{id("ask-", job), id("review-", mail)}));
    model.setJobs({mail});
    EXPECT_EQ(center.removed.back(), QString::fromStdString(failed.id.string())) << "a report of a deleted job";
    n.follow(nullptr);
}

TEST(TrayPresence, WithoutATrayTheMenuIsSetAndAClickOpensFreshContentAtTheCursorAndASecondClosesIt) {
    std::vector<int> calls(4);  // open, sync all, settings, quit
    int made = 0;
    QLabel* content = nullptr;
    TrayPresence tray({[&] { ++calls[0]; }, [&] { ++calls[1]; }, [&] { ++calls[2]; }, [&] { ++calls[3]; }},
                      [&] {
                          ++made;
                          content = new QLabel(QStringLiteral("content"));
                          content->setFixedSize(360, 120);
                          return content;
                      },
                      SyncStrings());
    EXPECT_FALSE(tray.show());  // the offscreen platform has no tray
    EXPECT_TRUE(tray.icon().isVisible()) << "shown for a tray that comes later";
    EXPECT_EQ(tray.icon().contextMenu(), &tray.menu());
    for (QAction* action : tray.menu().actions()) action->trigger();
    EXPECT_EQ(calls, std::vector<int>(4, 1));
    QCursor::setPos(400, 300);
    emit tray.icon().activated(QSystemTrayIcon::Context);
    EXPECT_EQ(tray.popup(), nullptr);
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    QWidget* popup = tray.popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_TRUE(popup->isVisible() && popup->findChild<QLabel*>() != nullptr);
    EXPECT_EQ(popup->pos(), QPoint(400 - 180, 301));
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(tray.popup(), nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCursor::setPos(screen.center().x(), screen.bottom());
    emit tray.icon().activated(QSystemTrayIcon::Trigger);
    popup = tray.popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(made, 2);
    EXPECT_EQ(popup->geometry().bottom(), screen.bottom() - 1);
    for (const int height : {320, 80}) {  // jobs added or gone while it is open
        content->setFixedSize(360, height);
        EXPECT_TRUE(QTest::qWaitFor([&] { return popup->height() == height; }));
        EXPECT_EQ(popup->geometry().bottom(), screen.bottom() - 1) << height;
    }
}

TEST(TrayPresence, WithoutACompositorThePopupTakesItsSurfacesRoundedShape) {
    FakeAppModel fake;
    AppModelAdapter model(fake);
    TrayPresence tray({}, [&] { return new MenuBarContent(model, SyncStrings(), {}, DeviceDot::Sources{}); },
                      SyncStrings());
    tray.togglePopup();
    ASSERT_NE(tray.popup(), nullptr);
    const QRect frame = tray.popup()->rect();
    const QRegion shape = tray.popup()->mask();
    for (const QPoint corner : {frame.topLeft(), frame.topRight(), frame.bottomLeft(), frame.bottomRight()})
        EXPECT_FALSE(shape.contains(corner));
    for (const QPoint inside : {frame.center(), QPoint(frame.center().x(), 0), QPoint(0, frame.center().y())})
        EXPECT_TRUE(shape.contains(inside));
}

TEST(TrayPresence, APopupTallerThanTheRoomBelowATopIconLeavesTheIconUncovered) {
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(TrayPresence::popupPosition(QRect(600, 0, 22, 22), QSize(360, 200), screen), QPoint(610 - 180, 22));
    EXPECT_EQ(TrayPresence::popupPosition(QRect(1250, 778, 22, 22), QSize(360, 200), screen), QPoint(920, 578));
    EXPECT_EQ(TrayPresence::popupPosition(QRect(2, 0, 22, 22), QSize(360, 200), screen), QPoint(0, 22));
    const QRect icon(1400, 3, 22, 22);
    for (const int height : {900, 2000})
        EXPECT_EQ(TrayPresence::popupPosition(icon, QSize(360, height), QRect(0, 0, 1440, 900)), QPoint(1080, 25));
}

}  // namespace
}  // namespace kelto
