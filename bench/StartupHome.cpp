// Lays out the home the start-up benchmark launches the program in: COUNT
// jobs over empty folder pairs, written by the job store, and onboarding
// recorded as done, so the program opens its main window and no checklist.
// The folders follow the same XDG variables the program reads.
#include <QCoreApplication>
#include <QSettings>

#include "Kelto_Sync/App/AppFolders.h"
#include "Kelto_Sync/App/SyncSetup.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncModel/JobStore.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

using namespace kelto;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: KeltoStartupHome FOLDERS COUNT  (HOME and XDG_* as the program will see them)\n";
        return 2;
    }
    const std::filesystem::path root = argv[1];
    const int count = std::stoi(argv[2]);
    std::vector<SyncJob> jobs;
    for (int i = 0; i < count; ++i) {
        const std::filesystem::path pair = root / std::to_string(i);
        std::filesystem::create_directories(pair / "A");
        std::filesystem::create_directories(pair / "B");
        SyncJob job = SyncJob::newJob("Job " + std::to_string(i + 1));
        job.source = VolumeInspector::endpoint(pair / "A");
        job.destination = VolumeInspector::endpoint(pair / "B");
        jobs.push_back(std::move(job));
    }
    JobStore(AppFolders::fromEnvironment().jobsFile()).modify([&](std::vector<SyncJob>& list) { list = jobs; });

    QCoreApplication::setOrganizationName(QStringLiteral("Kelto"));
    QCoreApplication::setApplicationName(QStringLiteral("Kelto Sync"));
    QSettings settings;
    settings.setValue(SyncSetup::onboardingDone, true);
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : 1;
}
