// Types thirty characters into the name of a job whose source holds 100,000
// files, one key every 30 ms, on an offscreen QApplication. The model runs
// the real job validator (which walks the source tree) on a thread of its
// own per request. Prints how many validations started, the time from the
// last key to the last report, and the longest stall of the GUI thread.
// Usage: JobEditorTypingBench [files] [key interval ms]
#include "BenchSupport.h"

#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "SyncModel/JobValidator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <unistd.h>

using namespace kelto;
using namespace kelto::bench;
namespace fs = std::filesystem;

namespace {

// Only what the editor asks for; validations run off the GUI thread.
class ValidatingModel : public AppModelInterface {
public:
    explicit ValidatingModel(std::vector<SyncJob> jobs) : jobs_(std::move(jobs)) {}
    ~ValidatingModel() override { workers_.clear(); }

    const std::vector<SyncJob>& jobs() const override { return jobs_; }
    const StatusMap& statuses() const override { return statuses_; }
    const RecordMap& lastRecords() const override { return records_; }
    const std::optional<std::string>& errorMessage() const override { return none_; }
    const RunFinished& onRunFinished() const override { return finished_; }
    const std::optional<RunRecord>& manualSkip() const override { return skip_; }
    const std::optional<Uuid>& requestedJobID() const override { return requested_; }
    void setErrorMessage(std::optional<std::string>) override {}
    void setOnRunFinished(RunFinished) override {}
    void setManualSkip(std::optional<RunRecord>) override {}
    void setRequestedJobID(std::optional<Uuid>) override {}
    Subscription observe(Property, std::function<void()>) override { return {}; }

    void validate(const SyncJob& job, std::function<void(ValidationReport)> done) override {
        workers_.emplace_back([job, done = std::move(done)] {
            done(JobValidator::validate(job, [](const std::string& path) -> std::optional<std::string> {
                std::error_code error;
                const fs::path resolved = fs::canonical(path, error);
                return error ? std::nullopt : std::optional<std::string>(resolved.string());
            }));
        });
    }
    void addJob(const SyncJob&, std::function<void(Result<void>)> done) override { done({}); }
    void updateJob(const SyncJob&, std::function<void(Result<void>)> done) override { done({}); }
    void deleteJob(const Uuid&, std::function<void(Result<void>)> done) override { done({}); }
    void runNow(const Uuid&) override {}
    void runAll() override {}
    void cancel(const Uuid&) override {}
    void confirm(const Uuid&, std::shared_ptr<const SyncPlan>) override {}
    void decline(const Uuid&) override {}
    void preview(const Uuid&, std::function<void(Result<SyncPlan>)> done) override { done(SyncPlan{}); }
    void shutdown(std::function<void()> done) override { done(); }
    void archiveRoots(const Uuid&, std::function<void(Result<Roots>)> done) override { done(Roots{}); }
    void pruneArchives(const Uuid&, std::function<void(Result<void>)> done) override { done({}); }
    std::optional<Date> nextFireDate(const Uuid&) const override { return std::nullopt; }
    std::vector<RunRecord> history(const Uuid&) const override { return {}; }

private:
    std::vector<SyncJob> jobs_;
    StatusMap statuses_;
    RecordMap records_;
    std::optional<std::string> none_;
    RunFinished finished_;
    std::optional<RunRecord> skip_;
    std::optional<Uuid> requested_;
    std::vector<std::jthread> workers_;
};

void makeTree(const fs::path& root, std::size_t files) {
    for (std::size_t n = 0; n < files; ++n) {
        const fs::path folder = root / ("folder-" + std::to_string(n / 1000));
        if (n % 1000 == 0) fs::create_directories(folder);
        std::ofstream(folder / ("file-" + std::to_string(n) + ".txt")) << n;
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::size_t files = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 30;
    QApplication app(argc, argv);

    const fs::path root = fs::temp_directory_path() / ("kelto-editor-bench-" + std::to_string(::getpid()));
    makeTree(root / "source", files);
    fs::create_directories(root / "destination");

    SyncJob job = SyncJob::newJob("Bench");
    job.source.path = (root / "source").string();
    job.destination.path = (root / "destination").string();

    const auto single = std::chrono::steady_clock::now();
    JobValidator::validate(job, [](const std::string&) { return std::nullopt; });
    const double oneValidation = secondsSince(single);

    {
        ValidatingModel model({job});
        AppModelAdapter adapter(model);
        JobDetailView::Services services = JobDetailView::Services::system();
        services.actions = {};
        JobDetailView view(adapter, job, false, SyncStrings(), {}, nullptr, services);
        view.resize(640, 720);
        view.show();
        view.setSettingsSelected(true);
        while (view.isValidating()) app.processEvents(QEventLoop::WaitForMoreEvents);
        const int before = view.validationsStarted();

        // The gap between two ticks of a 1 ms timer is how long the GUI
        // thread was busy elsewhere.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, sinceTick.nsecsElapsed());
            sinceTick.restart();
        });
        sinceTick.start();
        ticker.start();

        int typed = 0;
        std::chrono::steady_clock::time_point lastKey;
        QTimer keys;
        keys.setInterval(interval);
        QObject::connect(&keys, &QTimer::timeout, [&] {
            QTest::keyClick(view.nameField(), static_cast<char>('a' + typed % 26));
            lastKey = std::chrono::steady_clock::now();
            if (++typed == 30) keys.stop();
        });
        keys.start();
        while (typed < 30 || view.isValidating()) app.processEvents(QEventLoop::WaitForMoreEvents);
        const double settle = secondsSince(lastKey);
        ticker.stop();

        std::printf("files in source:          %zu\n", files);
        std::printf("one validation:           %.1f ms\n", oneValidation * 1000);
        std::printf("keys typed:               %d, every %d ms\n", typed, interval);
        std::printf("validations started:      %d\n", view.validationsStarted() - before);
        std::printf("last key to last report:  %.1f ms\n", settle * 1000);
        std::printf("longest GUI-thread stall: %.1f ms (timer tick of 1 ms included)\n", longestStall / 1e6);
        std::printf("name in the last report:  %s\n", view.draft().name.c_str());
    }
    fs::remove_all(root);
    return 0;
}
