#include "SyncAutomation/AppModelError.h"
#include "tests/views/status/StatusFixtures.h"
#include <QSignalSpy>

namespace kelto {
namespace {

TEST(AppModelAdapter, OneSignalPerPropertyAndAnswersLaterOnlyToLivingReceivers) {
    FakeAppModel fake;
    AppModelAdapter adapter(fake);
    QSignalSpy jobs(&adapter, &AppModelAdapter::jobsChanged);
    QSignalSpy statuses(&adapter, &AppModelAdapter::statusesChanged);
    QSignalSpy records(&adapter, &AppModelAdapter::lastRecordsChanged);
    const SyncJob job = sampleJob();
    fake.setJobs({job});
    fake.setStatus(job.id, RunStatus::queued());
    EXPECT_EQ(std::tuple(jobs.count(), statuses.count(), records.count()), std::tuple(1, 1, 0));
    EXPECT_EQ(adapter.job(job.id), &adapter.jobs().front());
    EXPECT_TRUE(adapter.status(job.id) != nullptr && adapter.lastRecord(job.id) == nullptr);
    QObject receiver;
    std::vector<std::size_t> answers;
    adapter.archiveRoots(job.id, &receiver, [&](Result<AppModelAdapter::Roots> roots) { answers.push_back(roots.get().size()); });
    fake.answerRoots(AppModelAdapter::Roots{"/a", "/b"});
    EXPECT_TRUE(answers.empty());  // never inside the model's call
    settle();
    EXPECT_EQ(answers, std::vector<std::size_t>{2});
    bool failed = false;
    adapter.pruneArchives(job.id, &receiver, [&](Result<void> result) { failed = !result.hasValue(); });
    fake.answerPrune(std::make_exception_ptr(AppModelError::jobBusy()));
    settle();
    EXPECT_TRUE(failed);
    {
        QObject gone;
        adapter.archiveRoots(job.id, &gone, [&](Result<AppModelAdapter::Roots>) { answers.push_back(0); });
        fake.answerRoots(AppModelAdapter::Roots{});
    }
    settle();
    EXPECT_EQ(answers.size(), 1u);
}

}  // namespace
}  // namespace kelto
