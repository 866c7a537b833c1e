#include "Kelto_Sync/Notifications/Notifier.h"
#include "tests/views/support/FakeAppModel.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace kelto {
namespace {

class FakeCenter : public NotificationCenter {
public:
    void add(const NotificationRequest& request) override { posted.push_back(request); }
    void remove(const QString& identifier) override { removed.push_back(identifier); }
    void requestAuthorization(AuthorizationAnswer answer) override { answers.push_back(std::move(answer)); }
    void setResponseHandler(ResponseHandler) override {}

    std::vector<NotificationRequest> posted;
    std::vector<QString> removed;
    std::vector<AuthorizationAnswer> answers;
};

// Settings in a file of the test's own, read back through a fresh object
// as a later launch would.
class NotifierTest : public testing::Test {
protected:
    void store(const QString& key, const QVariant& value) {
        {
            QSettings writer(path(), QSettings::IniFormat);
            writer.setValue(key, value);
        }
        settings_ = std::make_unique<QSettings>(path(), QSettings::IniFormat);
    }
    QString path() const { return folder_.filePath(QStringLiteral("settings.ini")); }

    // Posts one of each kind.
    void postAll(Notifier& notifier) {
        notifier.notifyProblem(record(RunOutcome::failed("disk full")), "Photos");
        notifier.notifySuccess(record(RunOutcome::success()), "Photos");
        notifier.notifyReviewNeeded(job.id, "Photos", "Many deletions");
        notifier.askToSync(job);
    }
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

TEST_F(NotifierTest, OnlyAStoredFalseSilencesAllFourKinds) {
    store(Notifier::successKey, true);
    struct Case {
        const char* name;
        std::optional<QVariant> enabled;
        std::size_t posts;
    };
    for (const Case& c : {Case{"unset", std::nullopt, 4}, Case{"true", QVariant(true), 4},
                          Case{"false", QVariant(false), 0}, Case{"yes", QVariant(QStringLiteral("yes")), 4}}) {
        SCOPED_TRACE(c.name);
        if (c.enabled) {
            store(Notifier::enabledKey, *c.enabled);
        } else {
            settings_->remove(Notifier::enabledKey);
        }
        center.posted.clear();
        Notifier n = notifier();
        postAll(n);
        EXPECT_EQ(center.posted.size(), c.posts);
    }
}

TEST_F(NotifierTest, SuccessNeedsItsOwnSwitch) {
    Notifier n = notifier();
    n.notifySuccess(record(RunOutcome::success()), "Photos");
    EXPECT_TRUE(center.posted.empty());

    store(Notifier::successKey, true);
    Notifier on = notifier();
    const RunRecord done = record(RunOutcome::success());
    on.notifySuccess(done, "Photos");
    ASSERT_EQ(center.posted.size(), 1u);
    EXPECT_EQ(center.posted[0], (NotificationRequest{QString::fromStdString(done.id.string()), "Sync completed",
                                                     "Photos", "", QString::fromStdString(job.id.string()), {}}));
}

TEST_F(NotifierTest, TitlesBodiesAndIdentifiers) {
    Notifier n = notifier();
    const QString jobText = QString::fromStdString(job.id.string());
    const RunRecord failed = record(RunOutcome::failed("disk full"), {"first", "second"});
    n.notifyProblem(failed, "Photos");
    n.notifyProblem(record(RunOutcome::completedWithErrors()), "Photos");
    n.notifyProblem(record(RunOutcome::interrupted()), "Photos");
    n.notifyReviewNeeded(job.id, "Photos", "Many deletions");
    n.askToSync(job);
    ASSERT_EQ(center.posted.size(), 5u);

    EXPECT_EQ(center.posted[0], (NotificationRequest{QString::fromStdString(failed.id.string()), "Sync failed",
                                                     "Photos\ndisk full\nsecond", "", jobText, {}}));
    EXPECT_EQ(center.posted[1].title, "Completed with errors");
    EXPECT_EQ(center.posted[1].body, "Photos");
    EXPECT_EQ(center.posted[2].title, "Sync failed");
    EXPECT_EQ(center.posted[2].body, "Photos");
    EXPECT_EQ(center.posted[3],
              (NotificationRequest{"review-" + jobText, "Review needed", "Photos\nMany deletions", "", jobText, {}}));
    EXPECT_EQ(center.posted[4], (NotificationRequest{"ask-" + jobText,
                                                     "Sync connected device?",
                                                     "Photos",
                                                     "SYNC_ASK",
                                                     jobText,
                                                     {{"SYNC_NOW", "Sync now"}, {"SKIP", "Skip"}}}));
    EXPECT_EQ(jobText, jobText.toUpper());
}

// The failure is stored among the errors too: the body says it once, and
// the last other error still shows.
TEST_F(NotifierTest, AFailureStoredAmongTheErrorsIsSaidOnce) {
    Notifier n = notifier();
    const std::string readOnly = "The destination volume is read-only.";
    n.notifyProblem(record(RunOutcome::failed(readOnly), {readOnly}), "Photos");
    n.notifyProblem(record(RunOutcome::failed(readOnly), {"first", readOnly}), "Photos");
    n.notifyProblem(record(RunOutcome::completedWithErrors(), {readOnly}), "Photos");
    ASSERT_EQ(center.posted.size(), 3u);
    EXPECT_EQ(center.posted[0].body, "Photos\nThe destination volume is read-only.");
    EXPECT_EQ(center.posted[1].body, "Photos\nThe destination volume is read-only.\nfirst");
    EXPECT_EQ(center.posted[2].body, "Photos\nThe destination volume is read-only.");
}

TEST_F(NotifierTest, AuthorizationPassesTheCentresAnswerOrError) {
    Notifier n = notifier();
    std::vector<Result<bool>> results;
    n.requestAuthorization([&](Result<bool> r) { results.push_back(std::move(r)); });
    n.requestAuthorization([&](Result<bool> r) { results.push_back(std::move(r)); });
    ASSERT_EQ(center.answers.size(), 2u);
    center.answers[0](true, nullptr);
    center.answers[1](false, std::make_exception_ptr(std::runtime_error("refused")));
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[0].get());
    EXPECT_THROW(results[1].get(), std::runtime_error);
}

// A notice goes once what it is about is settled: a review once its run is
// no longer parked (answered, dropped), every notice of a deleted job, a
// review or an ask once its job runs or is paused, the questions when the
// application quits. A report of a listed job stays.
TEST_F(NotifierTest, ANoticeIsWithdrawnOnceItsSubjectIsSettled) {
    SyncJob mail = SyncJob::newJob("Mail");
    SyncJob docs = SyncJob::newJob("Docs");
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

}  // namespace
}  // namespace kelto
