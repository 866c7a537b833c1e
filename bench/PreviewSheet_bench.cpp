// Opens the preview sheet as a review of a plan of 100,000 copies and 20,000
// archives on an offscreen QApplication, and prints the time from building
// the sheet to its first painted frame of "Details" and the peak memory.
// Usage: PreviewSheetBench [copies] [archives]
#include "BenchSupport.h"

#include "Kelto_Sync/PreviewSheet.h"

#include <QApplication>
#include <QTreeView>

#include <cstdio>
#include <cstdlib>

using namespace kelto;
using namespace kelto::bench;

namespace {

SyncPlan makePlan(std::size_t copies, std::size_t archives) {
    SyncPlan plan;
    plan.copies.reserve(copies);
    plan.archives.reserve(archives);
    char path[96];
    for (std::size_t n = 0; n < copies; ++n) {
        std::snprintf(path, sizeof path, "Library %03zu/Album %03zu/IMG_%07zu.JPG", n / 10'000, n / 100 % 100, n);
        plan.copies.push_back({path, 3'000'000, n % 5 == 0 ? Side::a : Side::b});
    }
    for (std::size_t n = 0; n < archives; ++n) {
        std::snprintf(path, sizeof path, "Old %03zu/report-%07zu.pdf", n / 1000, n);
        plan.archives.push_back({path, n % 4 == 0 ? Side::a : Side::b});
    }
    plan.entryCountA = static_cast<std::int64_t>(copies + archives);
    plan.entryCountB = plan.entryCountA;
    return plan;
}

// Notes the first paint of a widget, once it has been handled.
class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted = true;
        }
        return false;
    }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::size_t copies = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100'000;
    const std::size_t archives = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20'000;
    QApplication app(argc, argv);

    SyncPlan plan = makePlan(copies, archives);
    const long before = statusKiB("VmRSS");
    resetPeak();

    const auto start = std::chrono::steady_clock::now();
    PreviewSheet sheet(std::move(plan), QStringLiteral("Many files would be archived."), SyncStrings::application(),
                       [] {}, [] {});
    const double built = secondsSince(start);
    PaintWatch watch;
    QTreeView* details = sheet.findChild<QTreeView*>(QStringLiteral("details"));
    details->viewport()->installEventFilter(&watch);
    sheet.show();
    while (!watch.painted) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    // The paint event has been handled once processEvents returns after it.
    const double firstFrame = secondsSince(start);
    const long peak = statusKiB("VmHWM");

    std::printf("{\"copies\": %zu, \"archives\": %zu, \"rows\": %d,\n", copies, archives,
                details->model()->rowCount(details->model()->index(0, 0)) +
                    details->model()->rowCount(details->model()->index(1, 0)) +
                    details->model()->rowCount(details->model()->index(2, 0)) +
                    details->model()->rowCount(details->model()->index(3, 0)));
    std::printf(" \"build_seconds\": %.3f, \"first_frame_seconds\": %.3f, \"goal_seconds\": 0.5, \"ratio_to_goal\": %.2f,\n",
                built, firstFrame, firstFrame / 0.5);
    std::printf(" \"rss_before_kib\": %ld, \"peak_rss_kib\": %ld, \"peak_growth_kib\": %ld}\n", before, peak,
                peak - before);
    return firstFrame < 0.5 ? 0 : 1;
}
